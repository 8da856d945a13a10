# The two set-up commands of a fresh Debian 12 machine:
#   make demo   builds the native tools and runs the demonstration
#   make test   builds and tests every build: native, native with
#               AddressSanitizer + UBSan, and 32-bit Windows under Wine
# Both install what is missing first (as root, with apt).
#
# One build at a time: make native | make asan | make mingw
# ETL_JOBS=N sets the number of compile jobs; the Windows tests run on a
# virtual X display (Xvfb) unless ETL_WINE_DISPLAY=0.

SHELL := /bin/bash
JOBS ?= $(or $(ETL_JOBS),$(shell nproc 2>/dev/null || echo 2))

.PHONY: all test demo native asan mingw deps clean

all: test

test:
	@bash scripts/test-all.sh native asan mingw

native asan mingw:
	@bash scripts/test-all.sh $@

deps:
	@bash scripts/install-deps.sh

demo: deps
	@echo "==== demo: building build/native"
	@cmake --preset native >/dev/null
	@cmake --build --preset native -j $(JOBS)
	@bash scripts/demo.sh build/native

clean:
	rm -rf build/native build/asan build/mingw
