#!/usr/bin/env bash
# Runs the fault matrix and writes its table to docs/fault-matrix.md.
#
#   scripts/fault-matrix.sh [BUILD_DIR]   (default build/native, configured
#                                          from the native preset if needed)
#
# The file is written only when every cell passed.
set -euo pipefail

cd "$(dirname "$0")/.."
dir=${1:-build/native}
jobs=${ETL_JOBS:-$(nproc 2>/dev/null || echo 2)}

if [ ! -f "$dir/CMakeCache.txt" ]; then
  if [ "$dir" = build/native ]; then
    cmake --preset native >/dev/null
  else
    echo "fault-matrix: $dir is not a configured build" >&2
    exit 2
  fi
fi
cmake --build "$dir" -j "$jobs" --target fault_matrix_test

out=$(mktemp "${TMPDIR:-/tmp}/etl-fault-matrix.XXXXXX")
trap 'rm -f "$out"' EXIT
ETL_FAULT_MATRIX_OUT=$out "$dir/bin/fault_matrix_test" --gtest_brief=1 \
  --gtest_filter=FaultMatrix.EveryFaultAgainstEveryOperation >/dev/null
mkdir -p docs
cp "$out" docs/fault-matrix.md
echo "fault-matrix: docs/fault-matrix.md written"
