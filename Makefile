# Sorvane: `make` builds both flavours, `make test` installs what is missing
# and runs every test layer, `make demo` runs the demo.
BUILD   ?= build
JOBS    ?= 2
NATIVE  := $(BUILD)/native
ASAN    := $(BUILD)/asan
TSAN    := $(BUILD)/tsan
WIN32   := $(BUILD)/win32
PROGRAM := $(BUILD)/program
WIN64   := $(BUILD)/win64
# The Wine layers run the 32-bit exes, or, where the kernel refuses 32-bit
# programs or the 32-bit Wine is not installed (scripts/wine-arch says
# win64), x86_64 builds of the same sources under wine64: WINE_BUILD holds
# the test exes, WINE_EXE the program they drive. `test` and `demo` run make
# again after `deps`, so that the choice follows what deps installed.
WINE_ARCH := $(shell scripts/wine-arch)
ifeq ($(WINE_ARCH),win64)
WINE_FLAVOUR := win64
WINE_BUILD   := $(WIN64)
WINE_PROGRAM := $(WIN64)
export PATH  := $(CURDIR)/scripts/wine64:$(subst $(CURDIR)/scripts/wine64:,,$(PATH))
else
WINE_FLAVOUR := win32
WINE_BUILD   := $(WIN32)
WINE_PROGRAM := $(PROGRAM)
export PATH  := $(subst $(CURDIR)/scripts/wine64:,,$(PATH))
endif
WINE_EXE     := $(WINE_PROGRAM)/ui/sorvane.exe
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deb native win32 win64 program asan tsan deps test test-setup test-unit test-asan test-tsan test-wine test-ui test-e2e test-integrity test-fuzz bench demo demo-run clean

all: native win32 program

deps:
	@BUILD=$(BUILD) scripts/install-deps

native:
	@cmake -S . -B $(NATIVE) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(NATIVE) -j$(JOBS) $(NATIVE_TARGETS)

asan:
	@cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DSORVANE_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN) -j$(JOBS)

# The threaded code under ThreadSanitizer: the emulation's tests and the tool.
tsan:
	@cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=Debug -DSORVANE_TSAN=ON >/dev/null
	@cmake --build $(TSAN) -j$(JOBS) --target emu_tests --target sorvane-offline --target forge

# The Debian package of the native tools, checked (scripts/build-deb).
deb: native
	@scripts/build-deb $(NATIVE)

# The test exes (posix thread model, which GoogleTest needs).
win32:
	@cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(WIN32) -j$(JOBS) $(WIN32_TARGETS)

# The x86_64 test vehicle for machines without 32-bit programs: the same
# test exes and program, for wine64.
win64:
	@cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-x86_64.cmake $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(WIN64) -j$(JOBS) $(WIN32_TARGETS)

# The shipped sorvane.exe (win32 thread model: starts on Windows 98 too).
program:
	@cmake -S . -B $(PROGRAM) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686-program.cmake $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(PROGRAM) -j$(JOBS)
	@scripts/check-imports $(PROGRAM)/ui/sorvane.exe

test: deps
	@$(MAKE) --no-print-directory test-setup test-unit test-asan test-wine test-ui test-e2e test-integrity test-fuzz

# install-deps against stand-in package tools: no network, no packages touched.
test-setup:
	@python3 tests/setup/install_deps_test.py

test-unit: native
	@cd $(NATIVE) && ctest --output-on-failure

test-asan: asan
	@cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure

# Only the tests whose code runs threads: the whole suite takes over a
# quarter of an hour under the thread sanitizer. The tool's own check of
# --jobs runs its screens on four threads.
test-tsan: tsan
	@cd $(TSAN) && TSAN_OPTIONS=halt_on_error=1 ./tests/emu/emu_tests --gtest_brief=1 \
		--gtest_filter='EmuReadAhead*:EmuFileCache*'
	@TSAN_OPTIONS=halt_on_error=1 tests/offline/jobs.sh $(TSAN)/tools/sorvane-offline/sorvane-offline \
		$(TSAN)/tools/forge/forge $(TSAN)/jobs-check

test-wine: $(WINE_FLAVOUR)
	@if [ -x scripts/run-wine-tests ] && [ -f $(WINE_BUILD)/tests/wine/sorvane_wine_tests.exe ]; then \
	  scripts/run-wine-tests $(WINE_BUILD)/tests/wine/sorvane_wine_tests.exe --gtest_brief=1; \
	else echo "wine layer: not built"; exit 1; fi

# The real sorvane.exe under Wine and Xvfb, driven by the UI test exe.
test-ui: native $(WINE_FLAVOUR) program
	@SORVANE_EXE=$(CURDIR)/$(WINE_EXE) scripts/run-ui-tests $(WINE_BUILD) $(NATIVE)/tools/forge/forge

# End-to-end scenarios: the real sorvane.exe, each in a fresh prefix.
test-e2e: native $(WINE_FLAVOUR) program
	@BUILD=$(BUILD) SORVANE_WIN32_BUILD=$(WINE_BUILD) SORVANE_EXE=$(CURDIR)/$(WINE_EXE) scripts/run-e2e

# A reduced integrity check over real corpora: sorvane-offline and the real
# sorvane.exe under Wine leave every clean file untouched.
test-integrity: native $(WINE_FLAVOUR) program
	@python3 bench/integrity.py --reduced --native $(NATIVE) --win32 $(WINE_BUILD) --program $(WINE_PROGRAM)

# The benchmark (bench/run_bench.py; BENCH_FLAGS e.g. --tree small --runs 3 --no-wine;
# --tree big|small|both picks the native trees, both by default).
bench: native $(WINE_FLAVOUR) program
	@python3 bench/run_bench.py --native $(NATIVE) --win32 $(WINE_BUILD) --program $(WINE_PROGRAM) --work $(BUILD)/bench $(BENCH_FLAGS)

# Each libFuzzer target for a bounded time (FUZZ_SECONDS, default 30; seven targets).
FUZZ_SECONDS ?= 30
test-fuzz:
	@scripts/run-fuzzers $(FUZZ_SECONDS)

# The demo builds only what it runs: the forge, the program, the e2e driver
# and its two helper exes.
demo: deps
	@$(MAKE) --no-print-directory demo-run

demo-run: program
	@$(MAKE) --no-print-directory native NATIVE_TARGETS="--target forge"
	@$(MAKE) --no-print-directory $(WINE_FLAVOUR) WIN32_TARGETS="--target sorvane_e2e sorvane_sleeper repair_host$(if $(filter win64,$(WINE_FLAVOUR)), sorvane)"
	@BUILD=$(BUILD) SORVANE_WIN32_BUILD=$(WINE_BUILD) SORVANE_EXE=$(CURDIR)/$(WINE_EXE) scripts/demo

clean:
	rm -rf $(BUILD)
