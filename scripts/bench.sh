#!/usr/bin/env bash
# The receive benchmark (make bench). Starts the built Kelvaro.exe in a folder of its own (its
# own Kelvaro.ini, a free port) and the benchmark's naive window under one wineserver with a
# prefix of the benchmark's own, and runs the driver, which floods both from raw TCP peers on
# 127.0.0.1, measures them and prints one table. Ends non-zero when a goal is missed (1) or the
# measurement failed (2).
#
# The windows are drawn on a virtual X display by default: there a visible list box costs what
# it costs on a desktop (repainting is most of the receive path's time). BENCH_DISPLAY=null runs
# them on Wine's null graphics driver instead, where painting is much cheaper.
# Extra arguments go to the driver, e.g. scripts/bench.sh big=20000 naive-big-limit=60.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/wine_prefix.sh

case ${BENCH_DISPLAY:-x11} in
    null) wine_name=bench driver=null ;;
    x11) wine_name=bench-x11 driver=x11 ;;
    *) echo "bench: BENCH_DISPLAY is null or x11" >&2; exit 2 ;;
esac
prefix="$root/build/wine-$wine_name"
(make_prefix "$prefix" "$driver")
for exe in Kelvaro bench_naive bench_driver; do
    [ -f "build/win/$exe.exe" ] || { echo "bench: build/win/$exe.exe missing (make bench builds it)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/kelvaro-bench-XXXXXX)
xvfb_pid=
cleanup() {
    # Every Wine process of this run lives under the benchmark's own prefix.
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
if [ "$driver" = x11 ]; then
    source scripts/xvfb.sh
    XVFB_SIZE=1600x1200 start_xvfb
    xvfb_pid=$XVFB_PID
    trap cleanup EXIT
fi

read -r kport nport < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')
cp build/win/Kelvaro.exe build/win/bench_naive.exe build/win/libgcrypt-20.dll build/win/libgpg-error-0.dll "$work/"
# The ring stays off: the bench never answers, and there is no sound device to ring on.
printf '[Setting]\r\nPort=%d\r\n[Notice]\r\nSound=0\r\n[Nearby]\r\nBrowse=0\r\n' "$kport" >"$work/Kelvaro.ini"
winwork="Z:${work//\//\\}"

load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "bench: Wine $(/usr/lib/wine/wine64 --version | sed 's/^wine-//'), ${driver} display, $(nproc) CPUs" \
    "($(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)), load average $(load) at the start"
WINEPREFIX=$prefix /usr/lib/wine/wineserver -p30
status=0
KELVARO_WINE=$wine_name timeout 800 scripts/wine.sh build/win/bench_driver.exe \
    "$winwork\\Kelvaro.exe" "$kport" "$winwork\\bench_naive.exe" "$nport" "$@" || status=$?
[ $status -eq 124 ] && echo "bench: the driver did not finish in time" >&2
echo "bench: load average $(load) at the end (other work on the machine skews the figures)"
exit $status
