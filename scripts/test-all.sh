#!/usr/bin/env bash
# Installs what is missing, then runs each stage given (default: native
# asan mingw win64), in that order. A build stage (native, asan, mingw,
# win64) configures, builds and tests its preset; the Windows tests run
# under Wine through scripts/with-wine.sh: mingw, the 32-bit target, under
# 32-bit Wine, and win64, the same sources built for 64-bit Windows, under
# 64-bit Wine. 32-bit Wine needs a kernel that runs i386 programs; where the
# kernel refuses them, the mingw stage builds and runs only the checks that
# read the binaries, says so, and counts as passed only when the win64 stage
# is part of the same run. The checking stages:
#   tsan      the threaded tests under ThreadSanitizer (scripts/tsan.sh)
#   valgrind  the end-to-end tests under valgrind memcheck on build/native
#             (scripts/valgrind.sh)
#   fuzz      each fuzz target for ETL_FUZZ_SECONDS (default 30) after its
#             regression cases (scripts/fuzz.sh)
#
# A failing build does not stop the run: the build keeps going past the
# failing target, the tests run anyway (an executable that was not built
# counts as a failed test), and the next preset follows. At the end one
# summary line per stage and a last line "N passed, N failed" (totals over
# all ctest runs). Exit status 0 only when every stage succeeded.
#
# Environment:
#   ETL_JOBS=N          parallel compile jobs (default: number of CPUs)
#   ETL_WINE_DISPLAY=0  run the Windows tests without a display (default 1:
#                       on a virtual X display, so the dialog tests run too)
#   ETL_SKIP_DEPS=1     do not run scripts/install-deps.sh
#   ETL_FUZZ_SECONDS=N  seconds per fuzz target in the fuzz stage
set -uo pipefail

cd "$(dirname "$0")/.."
root=$(pwd)

presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(native asan mingw win64)
for p in "${presets[@]}"; do
  case "$p" in
    native | asan | mingw | win64 | tsan | valgrind | fuzz) ;;
    *) echo "test-all: unknown stage '$p' (native, asan, mingw, win64, tsan, valgrind, fuzz)" >&2; exit 2 ;;
  esac
done

jobs=${ETL_JOBS:-$(nproc 2>/dev/null || echo 2)}
export ETL_WINE_DISPLAY=${ETL_WINE_DISPLAY:-1}
# Ceiling for one whole ctest run; single tests have their own time-outs.
ctest_limit=${ETL_CTEST_LIMIT:-1800}

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
banner() { printf '\n==== %s\n' "$*"; }

summary=()
total_passed=0
total_failed=0
status=0

t0=$(now)
if [ "${ETL_SKIP_DEPS:-0}" != 1 ]; then
  banner "dependencies"
  if ! bash scripts/install-deps.sh </dev/null; then
    echo "test-all: dependencies are missing; nothing was built" >&2
    exit 1
  fi
  summary+=("deps: $(elapsed "$t0") s")
fi

# A checking stage: one script, judged by its exit status.
run_check() {
  local name=$1 state=ok t
  shift
  banner "$name"
  t=$(now)
  if ! timeout -k 30 "$ctest_limit" "$@" </dev/null; then
    state=FAILED
    status=1
  fi
  summary+=("$name: $state; $(elapsed "$t") s")
}

for preset in "${presets[@]}"; do
  case "$preset" in
    tsan) run_check tsan bash scripts/tsan.sh; continue ;;
    valgrind) run_check valgrind bash scripts/valgrind.sh build/native; continue ;;
    fuzz) run_check fuzz bash scripts/fuzz.sh "${ETL_FUZZ_SECONDS:-30}"; continue ;;
  esac
  dir="$root/build/$preset"
  log="$dir/ctest-output.log"
  configure_s=- build_s=- test_s=-
  passed=0 failed=0 only=()
  state=ok

  banner "$preset: configure"
  t=$(now)
  if cmake --preset "$preset" </dev/null; then
    configure_s=$(elapsed "$t")

    banner "$preset: build"
    t=$(now)
    # -k 0: build everything that can be built, so the tests of the rest run.
    if ! cmake --build --preset "$preset" -j "$jobs" -- -k 0 </dev/null; then
      state="build FAILED"
    fi
    build_s=$(elapsed "$t")

    banner "$preset: test"
    t=$(now)
    runner=()
    case "$preset" in
      mingw)
        if bash scripts/runs-i386.sh; then
          runner=(bash scripts/with-wine.sh)
        else
          # 32-bit Wine cannot start on a kernel that refuses i386 programs.
          # Only the checks that read the built binaries run; the win64
          # stage runs every Windows test on the same sources, 64-bit.
          only=(-R '^check_exports$')
          echo "test-all: this machine's kernel does not run 32-bit (i386) programs:" \
               "the 32-bit Windows tests cannot run under Wine here; only check_exports runs" >&2
        fi
        ;;
      win64) runner=(env ETL_WINE_ARCH=win64 bash scripts/with-wine.sh) ;;
    esac
    mkdir -p "$dir"
    timeout -k 30 "$ctest_limit" "${runner[@]}" ctest --preset "$preset" "${only[@]}" </dev/null 2>&1 | tee "$log"
    ctest_rc=${PIPESTATUS[0]}
    test_s=$(elapsed "$t")

    # "95% tests passed, 2 tests failed out of 40"
    counts=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' "$log" | tail -1)
    if [ -n "$counts" ]; then
      read -r failed all <<<"$counts"
      passed=$((all - failed))
    fi
    if [ "$ctest_rc" -ne 0 ]; then
      [ "$state" = ok ] && state="tests FAILED"
      [ "$ctest_rc" -eq 124 ] && state="$state (ctest ran out of time)"
      # ctest failed without counting anything (e.g. it could not start).
      [ -z "$counts" ] && [ "$failed" -eq 0 ] && failed=1
    elif [ -z "$counts" ] && grep -q 'No tests were found' "$log"; then
      state="$state (no tests)"
    fi
  else
    configure_s=$(elapsed "$t")
    state="configure FAILED"
  fi

  if [ ${#only[@]} -ne 0 ] && [ "$state" = ok ]; then
    if [[ " ${presets[*]} " == *" win64 "* ]]; then
      state="ok (32-bit Wine tests not run: this kernel does not run i386 programs; win64 runs them 64-bit)"
    else
      state="tests NOT RUN (this kernel does not run i386 programs; run the win64 stage)"
    fi
  fi
  [[ "$state" = ok* ]] || status=1
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
  summary+=("$preset: $state; $passed passed, $failed failed; configure $configure_s s, build $build_s s, test $test_s s")
done

banner "summary ($(elapsed "$t0") s)"
printf '%s\n' "${summary[@]}"
echo "$total_passed passed, $total_failed failed"
exit "$status"
