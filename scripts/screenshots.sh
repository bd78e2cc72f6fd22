#!/usr/bin/env bash
# Renders the windows on a virtual display and saves them as PNG files in build/screenshots.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/screenshots"
mkdir -p "$out"
cmake --build "$root/build/win" --target win_shots >/dev/null
source "$root/scripts/xvfb.sh"
unset DISPLAY
XVFB_SIZE=1280x1024 start_xvfb
export KELVARO_WINE=x11
winout=$(cd "$out" && KELVARO_WINE=x11 "$root/scripts/wine.sh" winepath -w "$out" 2>/dev/null | tr -d '\r')
(cd "$root/build/win" && timeout 120 "$root/scripts/wine.sh" ./win_shots.exe "$winout") >"$out/shots.log" 2>&1 || {
    cat "$out/shots.log"; exit 1; }
for bmp in "$out"/*.bmp; do
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
WINEPREFIX="$root/build/wine-x11" /usr/lib/wine/wineserver -k 2>/dev/null || true
echo "screenshots in $out:"
ls "$out"/*.png
