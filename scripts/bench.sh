#!/usr/bin/env bash
# The driver against the physical limit: builds the native tools (unless a
# binary directory is given), starts the PLC simulator (etlan-sim) as a
# process of its own on 127.0.0.1 with
#   station 1  answering at once, D1000..D1026 holding distinct values
#   station 2  answering each request 20 ms late
#   station 3  a listener whose accept queue is full: connects hang
# writes a station file for stations 1 and 2 and one of 64 stations that
# all point at station 3, and runs "etlan bench" on them: ReadValue,
# ReadBlock (27 words) and WriteValue against a raw blocking-socket client
# sending the same frames, CPU per 100 reads from station 2, and ColdStart
# on the 64 silent stations, waited for at most BENCH_SILENT_LIMIT seconds.
#
# Usage: bench.sh [BIN_DIR]
#   BENCH_ROUNDS (default 20), BENCH_COUNT (operations per round, client and
#   kind; default 500), BENCH_SILENT_LIMIT (seconds, default 5),
#   BENCH_DELAY_MS (station 2's delay, default 20).
# Exit status: etlan bench's (0 it ran, whether or not the targets were
# met; 1 an operation failed or read a wrong value; 3 it could not run),
# or 1 when the build or the simulator failed.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/simulator.sh
. "$root/scripts/lib/simulator.sh"
rounds=${BENCH_ROUNDS:-20}
count=${BENCH_COUNT:-500}
silent_limit=${BENCH_SILENT_LIMIT:-5}
delay_ms=${BENCH_DELAY_MS:-20}

tools_bin bench "$@"

sim_workdir bench

# Distinct values, so that a read of the wrong words cannot pass.
sets=()
for i in $(seq 0 26); do sets+=(--set "D$((1000 + i))=$((4660 + 257 * i))"); done
"$bin/etlan-sim" --station 1 --station 2 --station 3 "${sets[@]}" \
  --for 2 --delay-ms "$delay_ms" --for 3 --never-accept \
  >"$work/sim.out" 2>"$work/sim.err" </dev/null &
sim_pid=$!

sim_wait_ready 3 bench || exit 1

stations=$work/stations.int
{
  echo "PC-stn: 65   (own station number)"
  printf '01 "127.0.0.1" "%s"\n' "${port[1]}"
  printf '02 "127.0.0.1" "%s"\n' "${port[2]}"
} >"$stations"
silent=$work/silent64.int
{
  echo "PC-stn: 65   (own station number)"
  for n in $(seq 1 64); do printf '%02d "127.0.0.1" "%s"\n' "$n" "${port[3]}"; done
} >"$silent"

# The simulator's CPU seconds so far (Linux): it must stay far from a core.
sim_cpu() {
  awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$sim_pid/stat" 2>/dev/null || echo "?"
}

args=(-s "$stations" -d 1 bench --plc 1 --slow-plc 2 --rounds "$rounds" -c "$count" --write-register 1000
  --silent "$silent" --silent-limit "$silent_limit")
echo "==== bench: simulator stations 1 (port ${port[1]}), 2 (${delay_ms} ms late, port ${port[2]}), 3 (never accepts, port ${port[3]})"
echo "\$ etlan ${args[*]}"
cpu0=$(sim_cpu)
t0=$(date +%s%3N)
# Bounded however slow the machine: the operations' own limits and the
# ColdStart limit keep etlan far below this.
timeout 900 "$bin/etlan" "${args[@]}"
rc=$?
t1=$(date +%s%3N)
cpu1=$(sim_cpu)
echo
echo "etlan-sim used ${cpu0:+$(awk -v a="$cpu0" -v b="$cpu1" 'BEGIN{ if (a=="?"||b=="?") print "?"; else printf "%.2f", b-a }')} CPU s in $(awk -v t=$((t1 - t0)) 'BEGIN{printf "%.1f", t/1000}') s of bench"
case $rc in
  0) echo "bench: ran (targets not met, if any, are listed above)" ;;
  1) echo "bench: FAILED: an operation failed or read a wrong value" ;;
  124) echo "bench: FAILED: etlan did not end within 900 s"; rc=1 ;;
  *) echo "bench: could not run (exit status $rc)" ;;
esac
exit "$rc"
