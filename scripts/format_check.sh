#!/usr/bin/env bash
# Checks that every C++ file of the project is formatted as .clang-format says: prints the
# places that differ and exits non-zero when any does. Formatting a file: clang-format -i FILE.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files -- 'app/*' 'call/*' 'phonebook/*' 'ui/*' 'platform/*' 'tests/*' |
    grep -E '\.(cpp|h)$')
[ ${#files[@]} -gt 0 ] || { echo "no C++ files found" >&2; exit 1; }
if clang-format --dry-run --Werror "${files[@]}"; then
    echo "${#files[@]} C++ files formatted as .clang-format says"
else
    echo "not formatted as .clang-format says: run clang-format -i on the files above" >&2
    exit 1
fi
