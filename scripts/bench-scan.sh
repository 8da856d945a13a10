#!/usr/bin/env bash
# A plant round with and without scan=MS. Builds the native tools (unless a
# binary directory is given), starts etlan-sim with 16 stations on
# 127.0.0.1 that answer each request 20 ms late (as a unit answers at the
# end of the PLC's scan), D100..D119 holding distinct values, and runs
# `etlan poll` of the 20 word tags D100..D119 of every station (320 tags,
# -l 10: every round starts as soon as the one before has ended) twice,
# one run after the other:
#   one exchange per read   the station lines without options (a few rounds)
#   scan=100                the station lines say scan=100
# For each run: the rounds after the first (the first one learns the tags),
# the mean and longest round, etlan's CPU per round, and whether every
# value read matched the simulator's.
#
# Usage: bench-scan.sh [BIN_DIR]
#   BENCH_SCAN_ROUNDS (rounds of the scan run, default 300),
#   BENCH_PLAIN_ROUNDS (rounds of the run without scan, default 3),
#   BENCH_DELAY_MS (default 20).
# Exit status: 0 when both runs read every value right and a scanned round
# took at most three answer delays plus 10 ms on the mean; 1 otherwise.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/simulator.sh
. "$root/scripts/lib/simulator.sh"
scan_rounds=${BENCH_SCAN_ROUNDS:-300}
plain_rounds=${BENCH_PLAIN_ROUNDS:-3}
delay_ms=${BENCH_DELAY_MS:-20}
stations=16

tools_bin bench-scan "$@"
sim_workdir bench-scan

args=() sets=()
for s in $(seq 1 $stations); do args+=(--station "$s"); done
for a in $(seq 0 19); do sets+=(--set "D$((100 + a))=$((1000 + 7 * a))"); done
"$bin/etlan-sim" "${args[@]}" "${sets[@]}" --delay-ms "$delay_ms" \
  >"$work/sim.out" 2>"$work/sim.err" </dev/null &
sim_pid=$!
sim_wait_ready $stations bench-scan || exit 1

tags=()
for s in $(seq 1 $stations); do
  for a in $(seq 0 19); do tags+=("$(printf '%02dD%05d' "$s" $((100 + a)))"); done
done

# run NAME ROUNDS OPTIONS: the poll's records in $work/NAME.csv, its CPU
# seconds (user + system) in $work/NAME.cpu.
run() {
  local name=$1 rounds=$2 options=$3 s
  {
    echo "PC-stn: 65"
    for s in $(seq 1 $stations); do printf '%02d "127.0.0.1" "%s" %s\n' "$s" "${port[$s]}" "$options"; done
  } >"$work/$name.int"
  /usr/bin/time -f '%U %S' -o "$work/$name.cpu" timeout 900 "$bin/etlan" -s "$work/$name.int" \
    poll "${tags[@]}" -l 10 -n "$rounds" --csv >"$work/$name.csv" 2>"$work/$name.err" </dev/null
}

# The rounds after the first: count, mean and longest (ms), wrong values,
# and CPU ms per round.
summary() {
  awk -F, -v cpu="$(awk '{ print $1 + $2 }' "$work/$1.cpu" 2>/dev/null)" '
    NR == 1 { next }
    {
      split(substr($1, 12, 12), t, ":"); at = t[1] * 3600 + t[2] * 60 + t[3]
      r = $2 + 0
      if (!(r in start)) { start[r] = at - $8 / 1000; last = r }
      stop[r] = at
      a = substr($3, 4) + 0
      if ($5 != 0 || $7 != 1000 + 7 * (a - 100)) ++wrong
    }
    END {
      n = 0; sum = 0; worst = 0
      for (r = 2; r <= last; ++r) {
        d = (stop[r] - start[r]) * 1000; if (d < 0) d += 86400000
        sum += d; ++n; if (d > worst) worst = d
      }
      printf "%d %.1f %.1f %d %.2f\n", n, n ? sum / n : 0, worst, wrong + 0, last ? 1000 * cpu / last : 0
    }' "$work/$1.csv"
}

echo "==== bench-scan: $stations stations answering after ${delay_ms} ms, 20 word tags each, etlan poll -l 10"
run plain $((plain_rounds + 1)) ""
run scan $((scan_rounds + 1)) "scan=100"

status=0
printf '%-26s %7s %12s %12s %8s %14s\n' "station lines" "rounds" "mean round" "longest" "wrong" "CPU per round"
for name in plain scan; do
  read -r n mean worst wrong cpu < <(summary "$name")
  label=$([ "$name" = plain ] && echo "one exchange per read" || echo "scan=100")
  printf '%-26s %7d %9.1f ms %9.1f ms %8d %11.2f ms\n' "$label" "$n" "$mean" "$worst" "$wrong" "$cpu"
  [ "$n" -gt 0 ] && [ "$wrong" -eq 0 ] || { echo "bench-scan: FAILED: $label: no rounds or wrong values"; status=1; }
  if [ "$name" = scan ]; then
    awk -v m="$mean" -v d="$delay_ms" 'BEGIN { exit !(m <= 3 * d + 10) }' ||
      { echo "bench-scan: FAILED: a scanned round took more than three answer delays"; status=1; }
  fi
done
[ "$status" = 0 ] && echo "bench-scan: ok"
exit "$status"
