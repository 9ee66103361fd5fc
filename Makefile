# One entry point for everything: the build trees, the deliverables in dist/,
# the tests and a local run under a private Wine prefix.
#   make          install what is missing, build the deliverables into dist/
#   make run      ... then run the product under Wine (URL=... for your own URL)
#   make check    ... then run every test (unit tests, once more under the
#                 address and undefined-behaviour sanitizers, end-to-end under Wine)
#   make bench    the benchmarks (by hand; results in bench/RESULTS.md)

BUILD   := build
WIN     := $(BUILD)/win32
NATIVE  := $(BUILD)/native
ASAN    := $(BUILD)/asan
SANITIZE := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
DIST    := dist
PYTHON  := /usr/bin/python3
JOBS    ?= 2
URL     ?=
RUN_SECONDS ?= 0

.PHONY: all run check bench deps build win32 win64 native asan dist programs unit unit-asan e2e clean \
        run-installed bench-installed

# The public targets first make sure the tools are there, then go on in a
# second make, so that what depends on the installed tools is read after.
all: deps
	@$(MAKE) --no-print-directory dist
run: deps
	@$(MAKE) --no-print-directory dist programs
	@$(MAKE) --no-print-directory run-installed
check: deps
	@$(MAKE) --no-print-directory unit unit-asan dist programs
	@$(MAKE) --no-print-directory e2e
bench: deps
	@$(MAKE) --no-print-directory dist programs
	@$(MAKE) --no-print-directory bench-installed

deps:
	@tools/install-deps.sh

# The Wine the tests and the run use: the shipped 32-bit programs where this
# host runs 32-bit Wine, else a 64-bit build of the same sources.
FLAVOUR  = $(shell tools/wine-flavour.sh)
PROGRAMS = $(BUILD)/$(FLAVOUR)

# Every tree treats warnings as errors: all of them build without any.
$(BUILD)/%/CMakeCache.txt:
	cmake -S . -B $(BUILD)/$* -DCMAKE_BUILD_TYPE=$(if $(filter native asan,$*),Debug,Release) \
	    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
	    $(if $(filter asan,$*),-DCMAKE_CXX_FLAGS="$(SANITIZE)" -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE)") \
	    $(if $(filter win32,$*),-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake) \
	    $(if $(filter win64,$*),-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake)

win32 win64 native asan: %: $(BUILD)/%/CMakeCache.txt
	cmake --build $(BUILD)/$* -j $(JOBS)

# install.exe is setup with the package behind it at the package offset,
# made without running setup (tests/e2e/test_setup.py proves the bytes equal
# those of setup's own /create), by the recipe the tests and the run use.
dist: win32
	mkdir -p $(DIST)
	cp $(WIN)/pelkor.exe $(WIN)/setup.exe $(DIST)/
	$(PYTHON) tools/pelkor_build.py $(WIN) $(DIST)

programs:
	@$(MAKE) --no-print-directory $(FLAVOUR)

run-installed:
	PELKOR_WINE_FLAVOUR=$(FLAVOUR) $(PYTHON) tools/run.py --programs $(PROGRAMS) \
	    --url "$(URL)" --seconds $(RUN_SECONDS)

# ctest runs each test in a process of its own; the second run has them all
# in one process, shuffled and repeated, so that none leans on what another
# left behind. SEED=N repeats the order of an earlier run.
# A hang in either run fails it after UNIT_LIMIT seconds instead of holding
# the whole suite (each test alone has ctest's 60 s).
SEED ?= $(shell od -An -N2 -tu2 /dev/urandom | tr -d ' ')
UNIT_LIMIT ?= 300
unit: native
	cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)
	timeout $(UNIT_LIMIT) $(NATIVE)/unit_tests --gtest_shuffle --gtest_random_seed=$(SEED) \
	    --gtest_repeat=3 --gtest_brief=1

unit-asan: asan
	timeout $(UNIT_LIMIT) $(ASAN)/unit_tests --gtest_brief=1

e2e:
	PELKOR_WINE_FLAVOUR=$(FLAVOUR) $(PYTHON) -m pytest -q --durations=5 tests/e2e \
	    --programs $(PROGRAMS) --shipped $(WIN)

bench-installed:
	PELKOR_WINE_FLAVOUR=$(FLAVOUR) $(PYTHON) bench/capture_memory.py --programs $(PROGRAMS)
	PELKOR_WINE_FLAVOUR=$(FLAVOUR) $(PYTHON) bench/capture_memory.py --programs $(PROGRAMS) --okbody pelkor-no-such-text
	PELKOR_WINE_FLAVOUR=$(FLAVOUR) $(PYTHON) bench/service_timing.py --programs $(PROGRAMS)
	PELKOR_WINE_FLAVOUR=$(FLAVOUR) $(PYTHON) bench/setup_copy.py --programs $(PROGRAMS)
	PELKOR_WINE_FLAVOUR=$(FLAVOUR) $(PYTHON) bench/install_timing.py --programs $(PROGRAMS)

clean:
	rm -rf $(BUILD) $(DIST)
