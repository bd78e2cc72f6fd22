#!/usr/bin/env bash
# Starts Kelvaro under Wine from build/win. With a display it opens there; without one a
# virtual display is started, Kelvaro runs on it for a few seconds and a screenshot is saved.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root/build/win"
export KELVARO_WINE=x11
if [ -n "${DISPLAY:-}" ]; then
    exec "$root/scripts/wine.sh" ./Kelvaro.exe
fi
shots="$root/build/screenshots"
mkdir -p "$shots"
source "$root/scripts/xvfb.sh"
start_xvfb
"$root/scripts/wine.sh" ./Kelvaro.exe &
pid=$!
wait_for_window Kelvaro 30 || { echo "run: the main window did not appear"; kill $pid 2>/dev/null; exit 1; }
sleep 1
import -window root "$shots/run.png"
echo "run: no display, so Kelvaro ran on a virtual display; screenshot: $shots/run.png"
WINEPREFIX="$root/build/wine-x11" /usr/lib/wine/wineserver -k 2>/dev/null || true
wait $pid 2>/dev/null || true
