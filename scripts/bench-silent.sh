#!/usr/bin/env bash
# One PLC switched off among others: how many rounds a plant's poll still
# completes. Builds the native tools (unless a binary directory is given),
# starts etlan-sim with stations 1, 2 and 3 on 127.0.0.1, and runs
#
#   etlan poll 01D00100 02D00100 03D00100 03D00101 03D00102 01D00101 -l 100
#
# (three of the six tags on station 3) for BENCH_SECONDS seconds each, one
# run after the other:
#   answering   station 3 answers                       (the baseline)
#   no rest     station 3 silent, its line says rest=0  (every read of it
#               waits its three attempts, as the original driver did)
#   rest        station 3 silent, its line as it comes  (the default rest)
# A silent station is one that accepts its connection and never answers
# (etlan-sim --for 3 --drop -1). For each run: the rounds completed, their
# share of the baseline's, and the longest round period (from one round's
# start to the next one's) after the first round in which station 3 failed.
#
# Usage: bench-silent.sh [BIN_DIR]
#   BENCH_SECONDS (default 60), BENCH_INTERVAL_MS (default 100).
# Exit status: 0 when the three runs ran and the rest run completed at least
# 75 % of the baseline's rounds with no round period after the first
# failure above one attempt's time-out (1000 ms) plus the interval; 1
# otherwise.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/simulator.sh
. "$root/scripts/lib/simulator.sh"
seconds=${BENCH_SECONDS:-60}
interval=${BENCH_INTERVAL_MS:-100}

tools_bin bench-silent "$@"

sim_workdir bench-silent
tags=(01D00100 02D00100 03D00100 03D00101 03D00102 01D00101)

# run NAME SIM_ARGS... -- STATION3_OPTIONS: one poll of $seconds s; its
# records in $work/NAME.csv, etlan's statistics in $work/NAME.err.
run() {
  local name=$1; shift
  local simargs=()
  while [ "$1" != -- ]; do simargs+=("$1"); shift; done
  shift
  "$bin/etlan-sim" --station 1 --station 2 --station 3 "${simargs[@]}" \
    >"$work/sim.out" 2>"$work/sim.err" </dev/null &
  sim_pid=$!
  sim_wait_ready 3 bench-silent || exit 1
  {
    echo "PC-stn: 65"
    printf '01 "127.0.0.1" "%s"\n' "${port[1]}"
    printf '02 "127.0.0.1" "%s"\n' "${port[2]}"
    printf '03 "127.0.0.1" "%s" %s\n' "${port[3]}" "$*"
  } >"$work/$name.int"
  # SIGINT after the time: etlan ends the poll as on Ctrl-C (status 130).
  timeout -s INT -k 30 "$seconds" "$bin/etlan" -s "$work/$name.int" poll "${tags[@]}" \
    -l "$interval" --csv >"$work/$name.csv" 2>"$work/$name.err" </dev/null
  kill "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null
  sim_pid=
}

# rounds NAME, longest NAME: from the records (time,round,tag,station,
# result,meaning,value,ms). A round starts at its first read's time minus
# that read's duration; the longest period counts from the first round in
# which station 3 failed on.
summary() {
  awk -F, -v interval="$interval" '
    NR == 1 { next }
    {
      split(substr($1, 12, 12), t, ":"); at = t[1] * 3600 + t[2] * 60 + t[3]
      r = $2 + 0
      if (!(r in start)) { start[r] = at - $8 / 1000; last = r }
      if ($4 == 3 && $5 != 0 && failed == 0) failed = r
    }
    END {
      complete = last > 1 ? last - 1 : 0  # the last round may have been cut by the stop
      worst = 0
      for (r = (failed ? failed + 2 : 2); r <= last; ++r) {
        p = (start[r] - start[r - 1]) * 1000
        if (p < 0) p += 86400000
        if (p > worst) worst = p
      }
      printf "%d %.0f %d\n", complete, worst, failed
    }' "$work/$1.csv"
}

echo "==== bench-silent: ${#tags[@]} tags, three on station 3, every ${interval} ms, ${seconds} s per run"
run answering -- ""
run norest --for 3 --drop -1 -- "rest=0"
run rest --for 3 --drop -1 -- ""

read -r base_rounds base_worst _ < <(summary answering)
status=0
printf '%-34s %8s %9s %22s\n' "station 3" "rounds" "of base" "longest round period"
for name in answering norest rest; do
  read -r rounds worst failed < <(summary "$name")
  case $name in
    answering) label="answering (baseline)" ;;
    norest) label="silent, rest=0 (no rest)" ;;
    rest) label="silent, default rest" ;;
  esac
  share=$(awk -v a="$rounds" -v b="$base_rounds" 'BEGIN { printf "%.1f %%", (b > 0 ? 100 * a / b : 0) }')
  after=$([ "$failed" -gt 0 ] && echo " after round $failed" || echo "")
  printf '%-34s %8d %9s %14.0f ms%s\n' "$label" "$rounds" "$share" "$worst" "$after"
  if [ "$name" = rest ]; then
    awk -v a="$rounds" -v b="$base_rounds" 'BEGIN { exit !(b > 0 && a >= 0.75 * b) }' ||
      { echo "bench-silent: FAILED: fewer than 75 % of the baseline's rounds"; status=1; }
    awk -v w="$worst" -v i="$interval" 'BEGIN { exit !(w <= 1000 + i) }' ||
      { echo "bench-silent: FAILED: a round period above 1000 ms + the interval after the first failure"; status=1; }
  fi
done
echo
echo "etlan's statistics of the default-rest run:"
grep -E '^[0-9]+ rounds in|^station 3' "$work/rest.err" | sed 's/^/  /'
[ "$status" = 0 ] && echo "bench-silent: ok"
exit "$status"
