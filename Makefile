# Kelvaro: build and test on Debian with mingw-w64 and Wine. See README.md.
BUILD   := build
HOST    := $(BUILD)/host
WIN     := $(BUILD)/win
FUZZ    := $(BUILD)/fuzz
JOBS    ?= 2
FUZZ_SECONDS ?= 1800

.PHONY: all setup build test test-host test-fuzz test-win test-e2e fuzz dist soak run screenshots demo bench clean

all: build

setup:
	@scripts/setup.sh

$(HOST)/CMakeCache.txt:
	cmake -S . -B $(HOST) -DCMAKE_BUILD_TYPE=Debug >/dev/null

$(WIN)/CMakeCache.txt:
	cmake -S . -B $(WIN) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null

build: setup $(HOST)/CMakeCache.txt $(WIN)/CMakeCache.txt
	cmake --build $(HOST) -j$(JOBS)
	cmake --build $(WIN) -j$(JOBS) --target Kelvaro kelvaro_docs win_tests window_probe

test: build dist
	@scripts/test.sh

# The download for Windows users: build/dist/Kelvaro-VERSION-win64.zip.
dist: setup $(WIN)/CMakeCache.txt
	cmake --build $(WIN) -j$(JOBS) --target Kelvaro kelvaro_docs
	@scripts/dist.sh

# The soak and fault tests at their full counts (make test runs them with small ones).
soak: build
	cd $(WIN) && KELVARO_SOAK=1 timeout 3600 ../../scripts/wine.sh ./win_tests.exe --gtest_color=no --gtest_filter='SoakTest.*'

# Each fuzzer for FUZZ_SECONDS, growing its corpus under build/fuzz/.
fuzz: setup
	@scripts/fuzz.sh $(FUZZ_SECONDS)

run: build
	@scripts/run.sh

screenshots: build
	@scripts/screenshots.sh

demo: build
	@scripts/demo.sh

# The receive benchmark: not part of the tests (see scripts/bench.sh).
bench: build
	cmake --build $(WIN) -j$(JOBS) --target bench_naive bench_driver
	@scripts/bench.sh

clean:
	rm -rf $(HOST) $(WIN) $(FUZZ) $(BUILD)/dist
