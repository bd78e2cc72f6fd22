#!/usr/bin/env bash
# Runs a Windows program under the project's Wine prefix, with the Japanese code page.
# KELVARO_WINE=x11 picks the prefix that draws on $DISPLAY; the default is headless.
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="$root/build/wine-${KELVARO_WINE:-test}"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
exec /usr/lib/wine/wine64 "$@"
