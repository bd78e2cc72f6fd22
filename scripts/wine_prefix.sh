# Makes a Wine prefix for the project (sourced, not run): make_prefix DIR null|x11.
# The null graphics driver runs windows headless; x11 draws them on $DISPLAY. Quick when the
# prefix is ready already.
make_prefix() {
    local dir=$1 driver=$2
    [ -f "$dir/.kelvaro-ready" ] && return 0
    echo "setup: creating the Wine prefix $dir"
    rm -rf "$dir"
    mkdir -p "$dir"
    export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=ja_JP.UTF-8
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
    if [ "$driver" = null ]; then
        /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    fi
    # The dialogs ask for the usual Japanese UI font; map it to the IPA font (installed by setup.sh).
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /d 'IPAPGothic' /f >/dev/null 2>&1
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ ゴシック' /d 'IPAGothic' /f >/dev/null 2>&1
    /usr/lib/wine/wineserver -w
    touch "$dir/.kelvaro-ready"
}

# Sets the display scale of a prefix in dots per inch (96 is 100 %): set_prefix_dpi DIR DPI.
# Wine reads it when its server starts; stop the prefix's server before calling this.
set_prefix_dpi() {
    local dir=$1 dpi=$2
    WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=ja_JP.UTF-8 \
        /usr/lib/wine/wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
        >/dev/null 2>&1
    WINEPREFIX=$dir /usr/lib/wine/wineserver -w
}
