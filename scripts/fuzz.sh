#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", build/fuzz) and runs each for
# SECONDS (default 600) on a temporary copy of its seed corpus
# (tests/fuzz/corpus/<target>), after replaying its regression cases
# (tests/fuzz/regressions/<target>). The repository's corpora are never grown.
#
#   scripts/fuzz.sh [SECONDS] [target...]     targets: address station_file
#                                             exchange read_sequence sim_command
#                                             (or fuzz_*)
#
# Prints per target the executions done and whether it found anything; a
# finding is kept in build/fuzz/findings/<target>/ and makes the script fail.
# Installs nothing: clang and its runtime come from scripts/install-deps.sh.
# ETL_JOBS sets the number of compile jobs (default 2).
set -uo pipefail

cd "$(dirname "$0")/.."
root=$(pwd)

seconds=600
if [[ $# -gt 0 && $1 =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
all=(fuzz_address fuzz_station_file fuzz_exchange fuzz_read_sequence fuzz_sim_command)
targets=()
for t in "$@"; do
  t=${t#fuzz_}
  targets+=("fuzz_$t")
done
[[ ${#targets[@]} -eq 0 ]] && targets=("${all[@]}")
for t in "${targets[@]}"; do
  if [[ ! " ${all[*]} " == *" $t "* ]]; then
    echo "fuzz: unknown target $t (known: ${all[*]})" >&2
    exit 2
  fi
done

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

mkdir -p build
echo "==== fuzz: building build/fuzz"
if ! cmake --preset fuzz >build/fuzz-configure.log 2>&1; then
  cat build/fuzz-configure.log >&2
  exit 1
fi
cmake --build --preset fuzz -j "${ETL_JOBS:-2}" || exit 1

bin=$root/build/fuzz/fuzz
findings=$root/build/fuzz/findings
logs=$root/build/fuzz/logs
mkdir -p "$findings" "$logs"
work=$(mktemp -d "${TMPDIR:-/tmp}/etl-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT

status=0
summary=()
for t in "${targets[@]}"; do
  log=$logs/$t.log
  : >"$log"
  found=""

  # Every regression case must pass before fuzzing starts (absolute paths:
  # some targets work in a private directory of their own).
  regressions=()
  if [[ -d tests/fuzz/regressions/$t ]]; then
    while IFS= read -r -d '' f; do regressions+=("$f"); done \
      < <(find "$root/tests/fuzz/regressions/$t" -type f -print0 | sort -z)
  fi
  if [[ ${#regressions[@]} -gt 0 ]]; then
    if ! "$bin/$t" "${regressions[@]}" >>"$log" 2>&1; then
      found="a regression case fails again (see $log)"
    fi
  fi

  execs=0
  if [[ -z $found ]]; then
    corpus=$work/$t
    mkdir -p "$corpus" "$findings/$t"
    cp -r "tests/fuzz/corpus/$t/." "$corpus/" 2>/dev/null
    echo "==== fuzz: $t for ${seconds} s"
    (cd "$work" && "$bin/$t" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$findings/$t/" "$corpus") >>"$log" 2>&1
    rc=$?
    execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
    execs=${execs:-0}
    if [[ $rc -ne 0 ]]; then
      artifact=$(grep -o "Test unit written to .*" "$log" | tail -1 | sed 's/Test unit written to //')
      found="${artifact:-exit code $rc} (see $log)"
    fi
  fi

  if [[ -n $found ]]; then
    summary+=("$(printf '%-18s %12s executions  FOUND: %s' "$t" "$execs" "$found")")
    status=1
  else
    summary+=("$(printf '%-18s %12s executions  nothing found (%d regression cases pass)' \
      "$t" "$execs" "${#regressions[@]}")")
  fi
done

echo "==== fuzz: ${seconds} s per target"
printf '%s\n' "${summary[@]}"
exit $status
