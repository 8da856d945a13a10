# The two set-up commands of a fresh Debian 12 machine:
#   make demo   builds the driver, etlan and etlan-sim and runs the
#               demonstration; installs only the compiler, CMake, Ninja and
#               the tools' header-only libraries
#   make test   builds and tests every build: native, native with
#               AddressSanitizer + UBSan, ThreadSanitizer, valgrind
#               memcheck, 32-bit Windows under Wine, the same sources as
#               64-bit Windows under 64-bit Wine, and a short run of every
#               fuzz target; installs all that these need
# Both install what is missing first (as root, with apt).
#
# One stage at a time: make native | asan | mingw | win64 | tsan | valgrind
# Long forms:  make fuzz [FUZZ_SECONDS=600]   every fuzz target
#              make soak [OPS=1000000]        the long soak
#              make fault-matrix              regenerates docs/fault-matrix.md
#              make bench-silent              a poll's rounds with one PLC silent (3 min)
#              make bench-scan                a plant round with and without scan=MS
#              make dist                      builds and tests native and 32-bit
#                                             Windows, packs dist/ETLANdr-<version>-win32.zip
#                                             and -linux-x86_64.tar.gz, tests both
# ETL_JOBS=N sets the number of compile jobs; the Windows tests run on a
# virtual X display (Xvfb) unless ETL_WINE_DISPLAY=0.

SHELL := /bin/bash
JOBS ?= $(or $(ETL_JOBS),$(shell nproc 2>/dev/null || echo 2))

FUZZ_SECONDS ?= 600
OPS ?= 1000000

.PHONY: all test demo native asan mingw win64 tsan valgrind fuzz soak fault-matrix deps clean bench bench-silent bench-scan dist

all: test

test:
	@bash scripts/test-all.sh native asan tsan valgrind mingw win64 fuzz

native asan mingw win64 tsan valgrind:
	@bash scripts/test-all.sh $@

fuzz: deps
	@bash scripts/fuzz.sh $(FUZZ_SECONDS)

soak: deps
	@bash scripts/soak.sh $(OPS)

fault-matrix: deps
	@bash scripts/fault-matrix.sh

dist:
	@ETL_JOBS=$(JOBS) bash scripts/dist.sh

deps:
	@bash scripts/install-deps.sh

bench: deps
	@bash scripts/bench.sh

bench-silent: deps
	@bash scripts/bench-silent.sh

bench-scan: deps
	@bash scripts/bench-scan.sh

# GoogleTest is none of the demo's packages: without it build/native is
# configured without the tests (make test installs it and puts them back).
demo:
	@bash scripts/install-deps.sh demo
	@echo "==== demo: building the driver, etlan and etlan-sim in build/native"
	@cmake --preset native $(if $(wildcard /usr/src/googletest/CMakeLists.txt),,-DETL_TESTS=OFF) >/dev/null
	@cmake --build --preset native -j $(JOBS) --target ETLANdr QANPRO etlan etlan-sim
	@bash scripts/demo.sh build/native

clean:
	rm -rf build/native build/asan build/mingw build/win64 build/tsan build/fuzz dist
