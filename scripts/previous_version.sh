#!/usr/bin/env bash
# Builds the program as it was at version 0.33 (the last without identities) once, from its
# commit in this repository, into build/previous-0.33/: the Windows tests check that a new copy
# still talks encrypted with it. Quick when it is already built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
commit=65304dd
out=$root/build/previous-0.33
[ -f "$out/win/Kelvaro.exe" ] && exit 0
rm -rf "$out"
mkdir -p "$out/src"
git -C "$root" archive "$commit" | tar -x -C "$out/src"
cmake -S "$out/src" -B "$out/win" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$out/src/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$out/win" -j"${JOBS:-2}" --target Kelvaro
