# One entry point for everything: the two build trees, the deliverables in
# dist/, the tests and the local run under a private Wine prefix.
#   make          build the deliverables into dist/
#   make run      build, then run the product under Wine (URL=... to use your own)
#   make check    build, then run every test (unit tests and end-to-end under Wine)

BUILD  := build
WIN    := $(BUILD)/win32
NATIVE := $(BUILD)/native
DIST   := dist
PYTHON := /usr/bin/python3
JOBS   ?= 2
URL    ?=

.PHONY: all deps win32 native dist run check unit e2e bench clean

all: dist

deps:
	@tools/install-deps.sh

$(WIN)/CMakeCache.txt: | deps
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release

$(NATIVE)/CMakeCache.txt: | deps
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug

win32: $(WIN)/CMakeCache.txt
	cmake --build $(WIN) -j $(JOBS)

native: $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j $(JOBS)

dist: win32
	mkdir -p $(DIST)
	cp $(WIN)/pelkor.exe $(DIST)/

run: dist
	$(PYTHON) tools/run.py --build $(WIN) --dist $(DIST) --url "$(URL)"

unit: native
	cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)

e2e: dist
	$(PYTHON) -m pytest -q tests/e2e --win32-build $(WIN)

check: unit e2e

bench: dist
	$(PYTHON) bench/capture_memory.py --build $(WIN)

clean:
	rm -rf $(BUILD) $(DIST)
