#!/usr/bin/env bash
# Runs every test layer: host unit tests (ASan/UBSan), the line-reader fuzzer for a bounded
# time, the Windows tests under Wine, and end-to-end tests of the shipped program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
fuzz_seconds=${FUZZ_SECONDS:-30}

echo "== host unit tests"
(cd build/host && ctest --output-on-failure)

echo "== resources and documents"
python3 tests/res/test_resources.py

echo "== line-reader fuzzer (${fuzz_seconds} s)"
mkdir -p build/fuzz/corpus
clang++ -g -O1 -std=c++17 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -Iplatform -Icall tests/fuzz/line_reader_fuzz.cpp call/LineReader.cpp platform/afxstr.cpp \
    -o build/fuzz/line_reader_fuzz
build/fuzz/line_reader_fuzz -max_total_time="$fuzz_seconds" -timeout=10 -print_final_stats=1 \
    build/fuzz/corpus tests/fuzz/corpus 2>build/fuzz/fuzz.log || { tail -50 build/fuzz/fuzz.log; exit 1; }
grep -E 'stat::number_of_executed_units' build/fuzz/fuzz.log || true

# One wineserver for the whole run keeps each Wine start cheap.
export WINEPREFIX="$root/build/wine-test"
/usr/lib/wine/wineserver -p30 2>/dev/null || true

echo "== Windows tests under Wine"
(cd build/win && ctest --output-on-failure)

echo "== end-to-end tests"
python3 -m unittest discover -s tests/e2e -p 'test_*.py' -v
