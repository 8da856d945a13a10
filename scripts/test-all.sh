#!/usr/bin/env bash
# Installs what is missing, then runs each stage given (default: native asan
# mingw win64), in that order. What a stage builds and which tests it runs
# belong to the presets (CMakePresets.json) and the tests' labels
# (tests/CMakeLists.txt); this script runs them and adds up the counts:
#
#   stage     build preset  test preset     run through
#   native    native        native          -
#   asan      asan          asan            -
#   tsan      tsan          tsan            setarch -R (no address randomisation)
#   valgrind  native        valgrind        ctest -T memcheck
#   mingw     mingw         mingw           32-bit Wine (scripts/with-wine.sh)
#   win64     win64         win64           64-bit Wine
#   fuzz      scripts/fuzz.sh: each fuzz target for ETL_FUZZ_SECONDS (30)
#
# Where the kernel does not run i386 programs, 32-bit Wine cannot start: the
# mingw stage then runs the test preset mingw-binaries (the checks that only
# read the binaries), says so, and passes only when win64 is in the same run.
# A failing build does not stop the stage: the build goes on past the
# failing target and the tests run anyway. The counts come from ctest's
# JUnit file (valgrind: DynamicAnalysis-Test.xml; ctest -T memcheck says it
# finds no DartConfiguration.tcl, none is needed). At the end one summary
# line per stage and "N passed, N failed"; exit status 0 only when every
# stage passed.
#
# Environment: ETL_JOBS=N compile jobs (default: CPUs); ETL_WINE_DISPLAY=0
# Windows tests without a virtual display; ETL_SKIP_DEPS=1 skips
# scripts/install-deps.sh; ETL_FUZZ_SECONDS=N; ETL_CTEST_LIMIT=S the ceiling
# of one whole ctest run (default 1800).
set -uo pipefail
cd "$(dirname "$0")/.."

stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(native asan mingw win64)
for s in "${stages[@]}"; do
  [[ " native asan tsan valgrind mingw win64 fuzz " == *" $s "* ]] ||
    { echo "test-all: unknown stage '$s' (native, asan, tsan, valgrind, mingw, win64, fuzz)" >&2; exit 2; }
done
jobs=${ETL_JOBS:-$(nproc 2>/dev/null || echo 2)}
export ETL_WINE_DISPLAY=${ETL_WINE_DISPLAY:-1}
limit=${ETL_CTEST_LIMIT:-1800}

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
banner() { printf '\n==== %s\n' "$*"; }
number() { grep -o -m1 "$1=\"[0-9]*\"" "$2" 2>/dev/null | grep -o '[0-9]*'; }

summary=() total_passed=0 total_failed=0 status=0 t0=$(now)
if [ "${ETL_SKIP_DEPS:-0}" != 1 ]; then
  banner dependencies
  bash scripts/install-deps.sh </dev/null || { echo "test-all: dependencies are missing; nothing was built" >&2; exit 1; }
  summary+=("deps: $(since "$t0") s")
fi

for stage in "${stages[@]}"; do
  if [ "$stage" = fuzz ]; then
    banner fuzz; t=$(now); state=ok
    timeout -k 30 "$limit" bash scripts/fuzz.sh "${ETL_FUZZ_SECONDS:-30}" </dev/null || { state=FAILED; status=1; }
    summary+=("fuzz: $state; $(since "$t") s")
    continue
  fi
  build=$stage tests=$stage runner=() extra=() note="" state=ok passed=0 failed=0
  case $stage in
    tsan) setarch "$(uname -m)" -R true 2>/dev/null && runner=(setarch "$(uname -m)" -R) ;;
    valgrind) build=native extra=(--test-dir build/native -T memcheck) ;;
    mingw) if bash scripts/runs-i386.sh; then runner=(bash scripts/with-wine.sh); else tests=mingw-binaries
             note="32-bit Wine tests not run: this kernel does not run i386 programs"; echo "test-all: $note" >&2; fi ;;
    win64) runner=(env ETL_WINE_ARCH=win64 bash scripts/with-wine.sh) ;;
  esac
  dir=build/$build junit=$PWD/build/$build/$stage-tests.xml
  banner "$stage: configure"; t=$(now)
  if ! cmake --preset "$build" </dev/null; then
    summary+=("$stage: configure FAILED; configure $(since "$t") s"); status=1; continue
  fi
  configure_s=$(since "$t")
  banner "$stage: build"; t=$(now)
  # -k 0: build what can be built, so that the tests of the rest still run.
  cmake --build --preset "$build" -j "$jobs" -- -k 0 </dev/null || state="build FAILED"
  build_s=$(since "$t")
  banner "$stage: test"; t=$(now); rm -f "$junit" "$dir/Testing/TAG"
  timeout -k 30 "$limit" "${runner[@]}" ctest --preset "$tests" "${extra[@]}" --output-junit "$junit" </dev/null
  rc=$?
  test_s=$(since "$t")
  if [ "$stage" = valgrind ] && [ -f "$dir/Testing/TAG" ]; then
    log="$dir/Testing/$(head -1 "$dir/Testing/TAG")/DynamicAnalysis-Test.xml"
    passed=$(grep -c '<Test Status="passed"' "$log" 2>/dev/null) failed=$(grep -c '<Test Status="failed"' "$log" 2>/dev/null)
  elif [ -f "$junit" ]; then
    failed=$(number failures "$junit") passed=$(($(number tests "$junit") - failed))
  fi
  passed=${passed:-0} failed=${failed:-0}
  if [ "$rc" -ne 0 ]; then
    [ "$state" = ok ] && state="tests FAILED"
    [ "$rc" -eq 124 ] && state="$state (ctest ran out of time)"
    [ "$failed" -eq 0 ] && failed=1  # ctest failed without counting anything
  elif [ "$((passed + failed))" -eq 0 ]; then
    state="FAILED (no test ran)"  # a stage that tests nothing must not pass
  fi
  if [ -n "$note" ] && [ "$state" = ok ]; then
    if [[ " ${stages[*]} " == *" win64 "* ]]; then state="ok ($note; win64 runs them 64-bit)"
    else state="tests NOT RUN ($note; run the win64 stage)"; fi
  fi
  [[ "$state" = ok* ]] || status=1
  total_passed=$((total_passed + passed)) total_failed=$((total_failed + failed))
  summary+=("$stage: $state; $passed passed, $failed failed; configure $configure_s s, build $build_s s, test $test_s s")
done

banner "summary ($(since "$t0") s)"
printf '%s\n' "${summary[@]}"
echo "$total_passed passed, $total_failed failed"
exit "$status"
