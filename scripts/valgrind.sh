#!/usr/bin/env bash
# Runs the end-to-end tests under valgrind memcheck on a native build:
# exchange_test, lifecycle_test, stations_test, etlan_test (the etlan
# processes it starts are checked too, the demonstration script is not),
# fault_matrix_test, a short soak slice and a shorter threads_test. Any memcheck error, and any definite or
# indirect leak, fails the run.
#
#   scripts/valgrind.sh [BUILD_DIR]     (default: build/native, configured
#                                        from the native preset if needed)
#
# Environment: ETL_JOBS=N compile jobs; ETL_VALGRIND_SOAK_SECONDS (default 10).
set -uo pipefail

cd "$(dirname "$0")/.."
root=$(pwd)
dir=${1:-build/native}
jobs=${ETL_JOBS:-$(nproc 2>/dev/null || echo 2)}
targets=(exchange_test lifecycle_test stations_test etlan_test fault_matrix_test soak_test threads_test)

command -v valgrind >/dev/null || { echo "valgrind: not installed (package valgrind)" >&2; exit 2; }
if [ ! -f "$dir/CMakeCache.txt" ]; then
  if [ "$dir" = build/native ]; then
    cmake --preset native >/dev/null || exit 1
  else
    echo "valgrind: $dir is not a configured build" >&2
    exit 2
  fi
fi
# etlan_test runs etlan, which loads the driver library and the host runtime.
cmake --build "$dir" -j "$jobs" --target "${targets[@]}" etlan ETLANdr QANPRO || exit 1

logs=$(mktemp -d "${TMPDIR:-/tmp}/etl-valgrind.XXXXXX")
trap 'rm -rf "$logs"' EXIT

vg=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full
    --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect
    --num-callers=30 --trace-children=yes
    --trace-children-skip='*/bash,*/date,*/sed,*/mktemp,*/awk,*/grep,*/cat,*/sleep,*/timeout'
    --log-file="$logs/%q{ETL_VG_NAME}.%p.log")

status=0
run() {
  local name=$1
  shift
  echo "==== valgrind: $name"
  local t0=$SECONDS
  ETL_VG_NAME=$name "${vg[@]}" "$root/$dir/bin/$name" --gtest_brief=1 "$@"
  local rc=$?
  echo "valgrind: $name exit $rc ($((SECONDS - t0)) s)"
  if [ "$rc" -ne 0 ]; then
    status=1
    # The reports of every process of this test that found something.
    grep -l -E 'ERROR SUMMARY: [1-9]|definitely lost: [1-9]|indirectly lost: [1-9]' \
      "$logs/$name".*.log 2>/dev/null | while read -r f; do
      echo "---- $f"
      cat "$f"
    done
  fi
}

run exchange_test
run lifecycle_test
run stations_test
# Each etlan that etlan_test starts (through /bin/sh) runs under memcheck
# too. The demonstration script is left out: it is mostly shell tools, and
# its etlan commands are the ones the other cases run.
run etlan_test --gtest_filter=-EtlanDemo.*
ETL_FAULT_MATRIX_JOBS=${ETL_FAULT_MATRIX_JOBS:-24} run fault_matrix_test
# The soak reports its resident size but leaves judging memory to memcheck.
ETL_UNDER_VALGRIND=1 ETL_SOAK_SECONDS=${ETL_VALGRIND_SOAK_SECONDS:-10} run soak_test
ETL_THREADS_ROUNDS=2 ETL_THREADS_OPS=300 run threads_test

# Processes that exited cleanly but left reports (children of a test).
if grep -l -E 'ERROR SUMMARY: [1-9]|definitely lost: [1-9]|indirectly lost: [1-9]' "$logs"/*.log >/dev/null 2>&1; then
  echo "valgrind: reports found" >&2
  status=1
fi
[ "$status" -eq 0 ] && echo "valgrind: all clean"
exit "$status"
