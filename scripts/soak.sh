#!/usr/bin/env bash
# The long soak: OPS reads and writes (default 1,000,000) of one instance
# against two simulated PLCs, one operation in ETL_SOAK_FAULT_EVERY
# (default 2000) with a random fault. Prints the figures (operations,
# faults, wrong values reported as success, descriptors and resident memory
# at start and end); the exit status is the test's.
#
#   scripts/soak.sh [OPS] [BUILD_DIR]   (default build: build/native,
#                                        configured from the native preset)
#
# ETL_SOAK_SEED=N repeats a run; ETL_JOBS=N compile jobs.
set -euo pipefail

cd "$(dirname "$0")/.."
ops=${1:-1000000}
dir=${2:-build/native}
jobs=${ETL_JOBS:-$(nproc 2>/dev/null || echo 2)}

case "$ops" in
  '' | *[!0-9]*) echo "usage: soak.sh [OPS] [BUILD_DIR]" >&2; exit 2 ;;
esac
if [ ! -f "$dir/CMakeCache.txt" ]; then
  if [ "$dir" = build/native ]; then
    cmake --preset native >/dev/null
  else
    echo "soak: $dir is not a configured build" >&2
    exit 2
  fi
fi
cmake --build "$dir" -j "$jobs" --target soak_test

ETL_SOAK_OPS=$ops ETL_SOAK_SECONDS=0 ETL_SOAK_FAULT_EVERY=${ETL_SOAK_FAULT_EVERY:-2000} \
  "$dir/bin/soak_test" --gtest_brief=1
