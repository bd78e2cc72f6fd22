#!/usr/bin/env bash
# Installs what building and testing Kelvaro needs on Debian, generates the Japanese locale and
# makes the project's Wine prefixes. Quick when everything is already there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev googletest
          g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 xvfb x11-utils xdotool xclip
          fonts-ipafont-gothic imagemagick locales python3
          libgcrypt20-dev libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev
          python3-zeroconf nsis python3-cryptography)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Avahi, a second multicast DNS peer for the nearby tests, runs only inside their namespace: its
# service must not start on this machine at install time (policy-rc.d answers 101: not now).
avahi=(avahi-daemon avahi-utils dbus)
missing=()
for p in "${avahi[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]} (their services not started)"
    policy=/usr/sbin/policy-rc.d
    if [ -e "$policy" ]; then
        # One there already (as in containers) must refuse starts too; it is left as it is.
        status=0
        "$policy" avahi-daemon start >/dev/null 2>&1 || status=$?
        [ "$status" = 101 ] || { echo "setup: $policy allows starting services; Avahi not installed"; exit 1; }
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    else
        printf '#!/bin/sh\nexit 101\n' >"$policy"
        chmod 755 "$policy"
        trap 'rm -f "$policy"' EXIT
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
        rm -f "$policy"
        trap - EXIT
    fi
fi

# Wine's ANSI code page follows the locale: ja_JP gives code page 932 (Shift-JIS).
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    echo "setup: generating the ja_JP.UTF-8 locale"
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi

# Two prefixes: one with Wine's null graphics driver for headless tests, one with the X11
# driver for running the program on a (possibly virtual) display.
source "$root/scripts/wine_prefix.sh"
make_prefix "$root/build/wine-test" null
make_prefix "$root/build/wine-x11" x11
