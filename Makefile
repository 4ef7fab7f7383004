# Sorvane: `make` builds both flavours, `make test` installs what is missing
# and runs every test layer, `make demo` runs the demo.
BUILD   ?= build
JOBS    ?= 2
NATIVE  := $(BUILD)/native
ASAN    := $(BUILD)/asan
WIN32   := $(BUILD)/win32
PROGRAM := $(BUILD)/program
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all native win32 program asan deps test test-unit test-asan test-wine test-ui test-e2e test-integrity test-fuzz bench demo clean

all: native win32 program

deps:
	@scripts/install-deps

native:
	@cmake -S . -B $(NATIVE) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(NATIVE) -j$(JOBS) $(NATIVE_TARGETS)

asan:
	@cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DSORVANE_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN) -j$(JOBS)

# The test exes (posix thread model, which GoogleTest needs).
win32:
	@cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(WIN32) -j$(JOBS) $(WIN32_TARGETS)

# The shipped sorvane.exe (win32 thread model: starts on Windows 98 too).
program:
	@cmake -S . -B $(PROGRAM) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686-program.cmake $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(PROGRAM) -j$(JOBS)
	@scripts/check-imports $(PROGRAM)/ui/sorvane.exe

test: deps
	@$(MAKE) --no-print-directory test-unit test-asan test-wine test-ui test-e2e test-integrity test-fuzz

test-unit: native
	@cd $(NATIVE) && ctest --output-on-failure

test-asan: asan
	@cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure

test-wine: win32
	@if [ -x scripts/run-wine-tests ] && [ -f $(WIN32)/tests/wine/sorvane_wine_tests.exe ]; then \
	  scripts/run-wine-tests $(WIN32)/tests/wine/sorvane_wine_tests.exe --gtest_brief=1; \
	else echo "wine layer: not built"; exit 1; fi

# The real sorvane.exe under Wine and Xvfb, driven by the UI test exe.
test-ui: native win32 program
	@SORVANE_EXE=$(CURDIR)/$(PROGRAM)/ui/sorvane.exe scripts/run-ui-tests $(WIN32) $(NATIVE)/tools/forge/forge

# End-to-end scenarios: the real sorvane.exe, each in a fresh prefix.
test-e2e: native win32 program
	@BUILD=$(BUILD) scripts/run-e2e

# A reduced integrity check over real corpora: sorvane-offline and the real
# sorvane.exe under Wine leave every clean file untouched.
test-integrity: native win32 program
	@python3 bench/integrity.py --reduced --native $(NATIVE) --win32 $(WIN32) --program $(PROGRAM)

# The benchmark (bench/run_bench.py; BENCH_FLAGS e.g. --runs 3 --no-wine).
bench: native win32 program
	@python3 bench/run_bench.py --native $(NATIVE) --win32 $(WIN32) --program $(PROGRAM) --work $(BUILD)/bench $(BENCH_FLAGS)

# Each libFuzzer target for a bounded time (FUZZ_SECONDS, default 60).
FUZZ_SECONDS ?= 60
test-fuzz:
	@scripts/run-fuzzers $(FUZZ_SECONDS)

# The demo builds only what it runs: the forge, the program, the e2e driver
# and its two helper exes.
demo: deps program
	@$(MAKE) --no-print-directory native NATIVE_TARGETS="--target forge"
	@$(MAKE) --no-print-directory win32 WIN32_TARGETS="--target sorvane_e2e sorvane_sleeper repair_host"
	@BUILD=$(BUILD) scripts/demo

clean:
	rm -rf $(BUILD)
