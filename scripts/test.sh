#!/usr/bin/env bash
# Runs every test layer: the format check of the C++ files, host unit tests (ASan/UBSan), the
# resource checks, the fuzzers for a bounded time (TEST_FUZZ_SECONDS each, 15 by default), the
# Windows tests under Wine, end-to-end tests of the shipped program, and the nearby tests
# (multicast DNS) inside a network namespace made for them. Ends with one line counting the
# tests of all layers; a failed format check fails the run too.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
fuzz_seconds=${TEST_FUZZ_SECONDS:-15}
logs=build/test-logs
mkdir -p "$logs"
passed=0 failed=0 skipped=0

# Adds the counts of a GoogleTest log ("[  PASSED  ] N tests." and friends).
count_gtest() {
    local p f s
    p=$({ grep -Eo '^\[  PASSED  \] [0-9]+' "$1" || true; } | awk '{s+=$NF} END {print s+0}')
    f=$({ grep -Eo '^\[  FAILED  \] [0-9]+ test' "$1" || true; } | awk '{s+=$(NF-1)} END {print s+0}')
    s=$({ grep -Eo '^\[  SKIPPED \] [0-9]+' "$1" || true; } | awk '{s+=$NF} END {print s+0}')
    passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
}
# Adds the counts of a Python unittest log ("Ran N tests", "FAILED (failures=1, errors=2)").
count_unittest() {
    local n f s
    n=$({ grep -Eo '^Ran [0-9]+' "$1" || true; } | awk '{s+=$2} END {print s+0}')
    f=$({ grep -Eo '(failures|errors)=[0-9]+' "$1" || true; } | awk -F= '{s+=$2} END {print s+0}')
    s=$({ grep -Eo 'skipped=[0-9]+' "$1" || true; } | awk -F= '{s+=$2} END {print s+0}')
    passed=$((passed + n - f - s)) failed=$((failed + f)) skipped=$((skipped + s))
}
status=0
run_layer() { # name, log, command...
    local name=$1 log=$2
    shift 2
    echo "== $name"
    if "$@" >"$log" 2>&1; then tail -n 3 "$log"; else status=1; cat "$log"; echo "== $name FAILED"; fi
}

# Formatting is checked as a step of its own; it has no test count.
run_layer "format check" "$logs/format.log" scripts/format_check.sh

run_layer "host unit tests" "$logs/host.log" build/host/host_tests --gtest_color=no
count_gtest "$logs/host.log"

run_layer "resources and documents" "$logs/res.log" python3 tests/res/test_resources.py
count_unittest "$logs/res.log"
run_layer "secure calls' worked example" "$logs/example.log" \
    python3 tests/host/secure_calls_example.py docs/secure-calls.md

echo "== fuzzers (${fuzz_seconds} s each)"
if scripts/fuzz.sh "$fuzz_seconds" >"$logs/fuzz.log" 2>&1; then
    cat "$logs/fuzz.log"
else
    status=1; tail -60 "$logs/fuzz.log"; echo "== fuzzers FAILED"
fi

# One wineserver for the whole run keeps each Wine start cheap.
export WINEPREFIX="$root/build/wine-test"
/usr/lib/wine/wineserver -p30 2>/dev/null || true

# The Windows tests call a copy of version 0.33, built once from its commit.
run_layer "version 0.33 for the Windows tests" "$logs/previous.log" scripts/previous_version.sh

run_layer "Windows tests under Wine" "$logs/win.log" \
    bash -c 'cd build/win && timeout 1200 ../../scripts/wine.sh ./win_tests.exe --gtest_color=no'
count_gtest "$logs/win.log"

run_layer "end-to-end tests" "$logs/e2e.log" \
    timeout 900 python3 -m unittest discover -s tests/e2e -p 'test_*.py' -v
count_unittest "$logs/e2e.log"

run_layer "nearby tests in a network namespace of their own" "$logs/nearby.log" scripts/nearby_test.sh
count_unittest "$logs/nearby.log"

echo "$passed passed, $failed failed, $skipped skipped"
exit $status
