#!/usr/bin/env bash
# Packs the download for Windows users: build/dist/Kelvaro-VERSION-win64.zip holding
# Kelvaro.exe, readme.txt and history.txt (Shift-JIS, CRLF) side by side. The version is the
# one the version box shows. Refuses to pack a program that needs a DLL Windows does not have.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
win=build/win
version=$(sed -n 's/.*"Kelvaro Version \([0-9][0-9.]*\)".*/\1/p' res/Kelvaro.rc)
[ -n "$version" ] || { echo "dist: no version found in res/Kelvaro.rc" >&2; exit 1; }
zip=build/dist/Kelvaro-$version-win64.zip

# Statically linked: only DLLs that come with every Windows may be imported.
dlls=$(x86_64-w64-mingw32-objdump -p "$win/Kelvaro.exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
system='^(kernel32|user32|gdi32|shell32|ws2_32|wsock32|advapi32|comctl32|comdlg32|ole32|shlwapi|msvcrt|winmm)\.dll$'
other=$(echo "$dlls" | grep -Eiv "$system" || true)
if [ -n "$other" ]; then
    echo "dist: Kelvaro.exe imports DLLs that are not part of Windows: $other" >&2
    exit 1
fi

mkdir -p build/dist
rm -f "$zip"
python3 - "$zip" "$win/Kelvaro.exe" "$win/readme.txt" "$win/history.txt" <<'EOF'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1] + ".tmp", "w", zipfile.ZIP_DEFLATED) as z:
    for path in sys.argv[2:]:
        z.write(path, os.path.basename(path))
os.replace(sys.argv[1] + ".tmp", sys.argv[1])
EOF
echo "dist: $zip ($(stat -c %s "$zip") bytes); Kelvaro.exe imports only" $dlls
