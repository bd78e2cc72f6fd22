#!/usr/bin/env bash
# Packs the download for Windows users: build/dist/Kelvaro-VERSION-win64.zip holding
# Kelvaro.exe, readme.txt and history.txt (Shift-JIS, CRLF) side by side, with the cryptography
# library's two DLLs and its licence text; and the per-user installer of the same files,
# build/dist/Kelvaro-VERSION-setup.exe (res/installer.nsi). The version is the one the version
# box shows.
# Refuses to pack a program that needs a DLL Windows does not have and the zip does not hold.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
win=build/win
version=$(sed -n 's/.*"Kelvaro Version \([0-9][0-9.]*\)".*/\1/p' res/Kelvaro.rc)
[ -n "$version" ] || { echo "dist: no version found in res/Kelvaro.rc" >&2; exit 1; }
zip=build/dist/Kelvaro-$version-win64.zip
# Downloads of other versions left from earlier builds go: build/dist holds this version's only.
mkdir -p build/dist
find build/dist -maxdepth 1 \( -name 'Kelvaro-*-win64.zip' -o -name 'Kelvaro-*-setup.exe' \) \
    ! -name "Kelvaro-$version-*" -delete

# Statically linked but for libgcrypt (LGPL), shipped as its DLLs beside the program: the
# program and those DLLs may import only DLLs that come with every Windows, and each other.
shipped=(libgcrypt-20.dll libgpg-error-0.dll)
system='^(kernel32|user32|gdi32|shell32|ws2_32|wsock32|iphlpapi|advapi32|comctl32|comdlg32|ole32|shlwapi|msvcrt|winmm|crypt32)\.dll$'
ours='^(libgcrypt-20|libgpg-error-0)\.dll$'
imports() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p'; }
for bin in Kelvaro.exe "${shipped[@]}"; do
    other=$(imports "$win/$bin" | grep -Eiv "$system" | grep -Ev "$ours" || true)
    if [ -n "$other" ]; then
        echo "dist: $bin imports DLLs that are neither part of Windows nor shipped:" $other >&2
        exit 1
    fi
done
dlls=$(imports "$win/Kelvaro.exe")

# The libraries' copyright notices and the LGPL 2.1, as Debian ships them, with CRLF line ends.
license=$win/libgcrypt-license.txt
{
    echo "libgcrypt-20.dll and libgpg-error-0.dll, beside Kelvaro.exe, are Libgcrypt and Libgpg-error"
    echo "as built for Windows by Debian, from the packages"
    echo "libgcrypt-mingw-w64-dev $(dpkg-query -W -f='${Version}' libgcrypt-mingw-w64-dev) and" \
        "libgpg-error-mingw-w64-dev $(dpkg-query -W -f='${Version}' libgpg-error-mingw-w64-dev)"
    echo "(their debugging sections removed)."
    echo "They are free software under the GNU Lesser General Public License, version 2.1 or"
    echo "(at your option) any later version; you may replace them with your own build. Their"
    echo "source is at https://gnupg.org and in Debian's source packages libgcrypt20 and libgpg-error."
    echo
    echo "======== Libgcrypt: copyright and licences ========"
    cat /usr/share/doc/libgcrypt-mingw-w64-dev/copyright
    echo
    echo "======== Libgpg-error: copyright and licences ========"
    cat /usr/share/doc/libgpg-error-mingw-w64-dev/copyright
    echo
    echo "======== GNU Lesser General Public License, version 2.1 ========"
    cat /usr/share/common-licenses/LGPL-2.1
} | sed 's/\r$//; s/$/\r/' >"$license"

mkdir -p build/dist
rm -f "$zip"
python3 - "$zip" "$win/Kelvaro.exe" "$win/readme.txt" "$win/history.txt" "${shipped[@]/#/$win/}" "$license" <<'EOF'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1] + ".tmp", "w", zipfile.ZIP_DEFLATED) as z:
    for path in sys.argv[2:]:
        z.write(path, os.path.basename(path))
os.replace(sys.argv[1] + ".tmp", sys.argv[1])
EOF
echo "dist: $zip ($(stat -c %s "$zip") bytes); Kelvaro.exe imports only" $dlls

setup=build/dist/Kelvaro-$version-setup.exe
rm -f "$setup"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSRCDIR="$root/$win" -DICON="$root/$win/res/Kelvaro.ico" \
    -DOUTFILE="$root/$setup.tmp" res/installer.nsi >&2
mv "$setup.tmp" "$setup"
echo "dist: $setup ($(stat -c %s "$setup") bytes)"
