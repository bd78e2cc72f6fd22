#!/usr/bin/env bash
# Renders the windows on a virtual display at each display scale and saves them as PNG files:
# build/screenshots/<dpi>/ for every DPI in SHOT_DPI (default 96 120 144 192, that is 100 %,
# 125 %, 150 % and 200 %), and the 96-DPI ones also in build/screenshots/ itself.
#
# The windows run in a Wine prefix of their own (build/wine-shots) whose LogPixels setting is
# changed between the runs; Wine reads it when its server starts, so the server is restarted
# for each scale.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/screenshots"
dpis=${SHOT_DPI:-96 120 144 192}
mkdir -p "$out"
cmake --build "$root/build/win" --target win_shots >/dev/null
source "$root/scripts/xvfb.sh"
source "$root/scripts/wine_prefix.sh"
make_prefix "$root/build/wine-shots" x11
unset DISPLAY
# Large enough for the main window at 200 % with the popup menu beside it.
XVFB_SIZE=2560x1600 start_xvfb
export KELVARO_WINE=shots
prefix="$root/build/wine-shots"
server() { WINEPREFIX="$prefix" /usr/lib/wine/wineserver "$@" 2>/dev/null || true; }
trap 'server -k; kill ${XVFB_PID:-} 2>/dev/null || true' EXIT

for dpi in $dpis; do
    dir="$out/$dpi"
    rm -rf "$dir"
    mkdir -p "$dir"
    server -k
    server -w
    set_prefix_dpi "$prefix" "$dpi"
    winout=$("$root/scripts/wine.sh" winepath -w "$dir" 2>/dev/null | tr -d '\r')
    (cd "$root/build/win" && timeout 180 "$root/scripts/wine.sh" ./win_shots.exe "$winout") \
        >"$dir/shots.log" 2>&1 || { cat "$dir/shots.log"; exit 1; }
    for bmp in "$dir"/*.bmp; do
        convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
    if [ "$dpi" = 96 ]; then
        cp "$dir"/*.png "$out"/
        cp "$dir/shots.log" "$out"/
    fi
done
server -k
echo "screenshots in $out:"
for dpi in $dpis; do ls "$out/$dpi"/*.png; done
