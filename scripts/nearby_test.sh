#!/usr/bin/env bash
# The nearby tests (tests/nearby/): the program, Debian's python3-zeroconf, Avahi, packets
# forged by the tests and a second copy meet over multicast DNS inside a private network and
# mount namespace made here (unshare -n -m), with
# loopback as its only interface, and a wineserver of its own prefix started inside it, so that
# no packet can leave the machine. Fails, without running anything, when the namespace cannot
# be made. Needs build/win/Kelvaro.exe; builds the tests' driver.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
prefix=$root/build/wine-nearby
cmake --build build/win --target nearby_driver >/dev/null
source scripts/wine_prefix.sh
make_prefix "$prefix" null
# A server of this prefix left outside the namespace would carry the program's sockets there.
WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
WINEPREFIX=$prefix /usr/lib/wine/wineserver -w 2>/dev/null || true

# Debian's own Python runs the tests: python3-zeroconf is installed for it.
inside='
if ! { ip link set lo up && ip link set lo multicast on && ip route add 224.0.0.0/4 dev lo; }; then
    echo "nearby tests: FAILED: loopback could not be set up for multicast in the namespace"
    echo "Ran 1 test"; echo "FAILED (errors=1)"
    exit 1
fi
# Avahi, when installed, keeps its pid file and socket in a /run/avahi-daemon of its own.
if [ -d /run/avahi-daemon ] || mkdir -p /run/avahi-daemon; then mount -t tmpfs tmpfs /run/avahi-daemon || true; fi
/usr/lib/wine/wineserver -p30
status=0
timeout 600 /usr/bin/python3 -m unittest discover -s tests/nearby -p "test_*.py" -v || status=$?
/usr/lib/wine/wineserver -k 2>/dev/null || true
exit $status
'
if ! unshare -n true 2>/dev/null; then
    echo "nearby tests: FAILED: no private network namespace could be made (unshare -n needs root" \
        "or user namespaces); they never run outside one"
    # Counted as one failure in the closing line of scripts/test.sh.
    echo "Ran 1 test"; echo "FAILED (errors=1)"
    exit 1
fi
export WINEPREFIX=$prefix KELVARO_WINE=nearby
exec unshare -n -m --propagation private bash -c "$inside"
