#!/usr/bin/env bash
# Builds the libFuzzer targets (AddressSanitizer and UndefinedBehaviorSanitizer) and runs each
# for the given number of seconds, growing its corpus in build/fuzz/corpus-NAME from the seeds
# in tests/fuzz/corpus/NAME. Prints per target the executions, their rate, the coverage, the
# corpus and the findings (inputs that crashed, kept in build/fuzz/findings-NAME/).
# Usage: scripts/fuzz.sh SECONDS [NAME...]; exits non-zero when a target found something.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-1800}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(line_reader send_queue call_pair secure_frame nearby message_file)

flags=(-g -O1 -std=c++17 -fno-sanitize-recover=all -I.)
mkdir -p build/fuzz/portable build/test-logs
# The core's portable files, as cmake/sources.cmake lists them, compiled once into an archive:
# each target links what it uses.
mapfile -t portable < <(sed -n '/^set(KELVARO_PORTABLE_SOURCES/,/^)/s/^ *\([^ )]*\.cpp\)$/\1/p' cmake/sources.cmake)
[ ${#portable[@]} -gt 0 ] || { echo "no sources in cmake/sources.cmake" >&2; exit 1; }
objects=()
for src in "${portable[@]}"; do
    obj=build/fuzz/portable/$(basename "${src%.cpp}").o
    if [ ! -e "$obj" ] || [ "$src" -nt "$obj" ] || [ -n "$(find call platform -name '*.h' -newer "$obj")" ]; then
        clang++ "${flags[@]}" -fsanitize=fuzzer-no-link,address,undefined -c "$src" -o "$obj"
    fi
    objects+=("$obj")
done
rm -f build/fuzz/portable.a
ar rcs build/fuzz/portable.a "${objects[@]}"
status=0
for t in "${targets[@]}"; do
    bin=build/fuzz/${t}_fuzz corpus=build/fuzz/corpus-$t findings=build/fuzz/findings-$t
    log=build/test-logs/fuzz-$t.log
    mkdir -p "$corpus" "$findings"
    clang++ "${flags[@]}" -fsanitize=fuzzer,address,undefined "tests/fuzz/${t}_fuzz.cpp" \
        build/fuzz/portable.a -lgcrypt -o "$bin"
    before=$(find "$findings" -type f | wc -l)
    rc=0
    "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "tests/fuzz/corpus/$t" >"$log" 2>&1 || rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1 || true)
    files=$(find "$corpus" -type f | wc -l)
    found=$(($(find "$findings" -type f | wc -l) - before))
    echo "$t: ${runs:-?} runs in ${seconds} s (${rate:-?}/s), ${cov:-no coverage line}," \
        "corpus $files files in $corpus, findings: $found"
    if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
        status=1
        tail -40 "$log"
        echo "$t: FAILED (exit $rc); the input is in $findings/, the log in $log"
    fi
done
exit $status
