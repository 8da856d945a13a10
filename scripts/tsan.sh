#!/usr/bin/env bash
# Builds the ThreadSanitizer preset (build/tsan) and runs, under it, the
# tests whose threads share the driver and the simulator: threads_test
# (instances on several threads), fault_matrix_test (an instance and a
# simulator per thread, every fault), sim_test and exchange_test (the
# simulator's own threads against the test's). A data race, a lock-order
# problem or a failed test makes the exit status nonzero.
#
# Environment: ETL_JOBS=N compile jobs (default: number of CPUs);
# TSAN_OPTIONS is added to the options set here.
set -euo pipefail

cd "$(dirname "$0")/.."
jobs=${ETL_JOBS:-$(nproc 2>/dev/null || echo 2)}
targets=(threads_test fault_matrix_test sim_test exchange_test)

cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target "${targets[@]}"

export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"

# Kernels with 32 bits of mmap randomisation place mappings where this
# ThreadSanitizer runtime does not expect them; run without randomisation.
run=()
if command -v setarch >/dev/null && setarch "$(uname -m)" -R true 2>/dev/null; then
  run=(setarch "$(uname -m)" -R)
fi

status=0
for t in "${targets[@]}"; do
  echo "==== tsan: $t"
  if ! "${run[@]}" "build/tsan/bin/$t" --gtest_brief=1; then
    echo "tsan: $t FAILED" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "tsan: all clean"
exit "$status"
