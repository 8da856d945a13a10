#!/usr/bin/env bash
# The main job, end to end: the PLC simulator (etlan-sim) on 127.0.0.1 with
# known values, a station file for it, and the command-line host (etlan)
# driving the driver library through its one entry point: identity, start,
# a scan of every station, address checks, reads (one answered in parts),
# writes read back, a read without a station file (--host) of two words as
# a float, the frames of a read as --trace shows them, stations
# that do not answer and what the host log says of them, a poll that keeps
# its rounds while one PLC stops answering, a poll that outlives a PLC
# restart, end.
# Prints each step's output, then a table of what was expected and what
# happened. Exit status 0 only when every step behaved as expected.
#
# Usage: demo.sh [BIN_DIR]   (default build/native/bin; a build directory
#                             holding bin/ is taken as well)
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/simulator.sh
. "$root/scripts/lib/simulator.sh"
bin=${1:-$root/build/native/bin}
if [ ! -x "$bin/etlan" ] && [ -x "$bin/bin/etlan" ]; then bin=$bin/bin; fi
bin=$(cd "$bin" 2>/dev/null && pwd) || { echo "demo: no directory ${1:-build/native/bin}" >&2; exit 1; }
etlan=$bin/etlan
sim=$bin/etlan-sim
for exe in "$etlan" "$sim"; do
  if [ ! -x "$exe" ]; then
    echo "demo: $exe is not built (build the native preset first)" >&2
    exit 1
  fi
done

sim_workdir demo
# The restart step's simulator, stopped on every exit as the first one is.
sim7_pid= restart_pid= sim8_pid=
# The restarted simulator is the restart job itself (it execs).
stop_sim7() {
  local p
  for p in $sim7_pid $restart_pid $sim8_pid; do kill "$p" 2>/dev/null; done
  for p in $sim7_pid $restart_pid $sim8_pid; do wait "$p" 2>/dev/null; done
  restart_pid= sim7_pid= sim8_pid=
}
trap 'stop_sim7; sim_cleanup' EXIT

ms_now() { date +%s%3N; }
# ready_port N FILE: the port of station N once a simulator writing FILE
# says it is ready (5 s at most; empty otherwise).
ready_port() {
  local p= _
  for _ in $(seq 1 200); do
    p=$(sed -n "s/^ready station $1 port \([0-9]*\).*/\1/p" "$2")
    [ -n "$p" ] && break
    sleep 0.025
  done
  printf '%s\n' "$p"
}
t_start=$(ms_now)

# ---------------------------------------------------------------- results
steps=() expects=() gots=() verdicts=()
failures=0
record() {  # record STEP EXPECTED GOT
  steps+=("$1") expects+=("$2") gots+=("$3")
  if [ "$2" = "$3" ]; then
    verdicts+=(ok)
  else
    verdicts+=(FAIL)
    failures=$((failures + 1))
  fi
}
record_check() {  # record_check STEP EXPECTED GOT CONDITION(0 = ok)
  steps+=("$1") expects+=("$2") gots+=("$3")
  if [ "$4" -eq 0 ]; then
    verdicts+=(ok)
  else
    verdicts+=(FAIL)
    failures=$((failures + 1))
  fi
}

# Runs etlan, shows its output indented; the output is in $out, the exit
# status in $rc and the time it took (ms) in $took.
run() {
  echo
  echo "\$ etlan $*"
  local t0
  t0=$(ms_now)
  out=$(cd "$work" && "$etlan" "$@" 2>&1)
  rc=$?
  took=$(($(ms_now) - t0))
  printf '%s\n' "$out" | sed 's/^/    /'
}
# The value of a single read: "TAG (...): 1234 (0x04D2)" -> 1234
value_of() { printf '%s\n' "$out" | sed -n 's/^[^ ]* (.*): \(-\{0,1\}[0-9][0-9]*\).*/\1/p' | head -1; }
# The values of a block read: "  [0] D300: 11 (0x000B)" -> "11 22 33"
block_of() { printf '%s\n' "$out" | sed -n 's/^  \[[0-9]*\] [^:]*: \([0-9][0-9]*\).*/\1/p' | paste -sd' ' -; }
# "result N" of a failed operation (with -v the log's own results come first)
result_of() {
  local r
  r=$(printf '%s\n' "$out" | sed -n 's/.*failed, result \([0-9][0-9]*\).*/\1/p' | head -1)
  [ -n "$r" ] || r=$(printf '%s\n' "$out" | sed -n 's/.*result \([0-9][0-9]*\).*/\1/p' | head -1)
  printf '%s\n' "$r"
}

# ---------------------------------------------------------------- simulator
echo "== Simulator: stations 1 and 2 with known values, 3 never answers, 4 refuses connections,"
echo "   10 sends answers of more than 118 characters in parts and writes its number in decimal"
"$sim" --station 1 --station 2 --station 3 --station 4 --station 10 \
  --set D100=1234 --set D200=0x12345678 --set R10=0x0020 \
  --set X1=0x0400 \
  --set D300=11 --set D301=22 --set D302=33 \
  --set D400=100000 --set D402=0x7FFFFFFF \
  --set LD10=0x00ABCDEF \
  --set D1000=0x00020001 --set D1052=0x00360035 \
  --for 3 --drop -1 --for 4 --refuse --for 10 --split 118 --station-field decimal --trace \
  >"$work/sim.out" 2>"$work/sim.err" </dev/null &
sim_pid=$!

sim_wait_ready 5 demo || exit 1
sed 's/^/    /' "$work/sim.out"

# The station file: header (own station number at its ninth character),
# then one line per station: number, "host", "port".
stations=$work/stations.int
{
  echo "PC-stn: 65   (own station number)"
  echo "; station  host         port"
  for n in 1 2 3 4 10; do printf '%02d "127.0.0.1" "%s"\n' "$n" "${port[$n]}"; done
} >"$stations"
echo
echo "== Station file $stations"
sed 's/^/    /' "$stations"
S=(-s "$stations" -d 1)

# ---------------------------------------------------------------- identity
echo
echo "== Identity"
run info
vendor=$(printf '%s\n' "$out" | sed -n 's/^Vendor *: //p')
record "identity: vendor text" "Matsushita" "$vendor"
size=$(printf '%s\n' "$out" | sed -n 's/^Context size *: \([0-9]*\) bytes.*/\1/p')
[ -n "$size" ] && [ "$size" -gt 0 ] && c=0 || c=1
record_check "identity: context size" "reported, > 0" "${size:-none} bytes" "$c"
banner=missing
printf '%s\n' "$out" | grep -q '│ TCP/IP protocol for Matsushita ET-LAN SYSTEM │' && banner="boxed text"
record "identity: banner" "boxed text" "$banner"

# ---------------------------------------------------------------- start
echo
echo "== ColdStart on the station file (station 4 refuses connections)"
run start "${S[@]}"
st=$(printf '%s\n' "$out" | sed -n 's/^Stations *: //p')
record "ColdStart: stations" "5 defined (1, 2, 3, 4, 10), 4 connected, 1 failed (4)" "$st"
cs=$(printf '%s\n' "$out" | sed -n 's/^ColdStart *: result \([0-9]*\).*/\1/p')
record "ColdStart: result" "0" "$cs"
ev=$(printf '%s\n' "$out" | sed -n 's/^EndVpi *: result \([0-9]*\).*/\1/p')
record "EndVpi: result" "0" "$ev"

# ---------------------------------------------------------------- scan
echo
echo "== Scan: every station of the file at once, one line each as it is done, with why it fails"
run scan "${S[@]}"
summary=$(printf '%s\n' "$out" | grep 'station(s):')
record "scan: summary" "5 station(s): 3 answer, 2 failed" "$summary"
bad=$(printf '%s\n' "$out" | sed -n 's/^station *\([0-9]*\) .* FAIL .*/\1/p' | sort -n | paste -sd' ' -)
record "scan: stations that fail, exit status" "3 4, exit 1" "$bad, exit $rc"
why=$(printf '%s\n' "$out" | sed -n 's/^station *\([0-9]*\) .* FAIL .*\(no reply within [0-9]* ms\|connection refused\).*/\1 \2/p' |
  sort -n | paste -sd';' -)
record "scan: why they fail" "3 no reply within 1000 ms;4 connection refused" "$why"

# ---------------------------------------------------------------- checks
echo
echo "== Address checks"
check() {  # check EXPECTED(valid|invalid) TAG [options]
  local want=$1
  shift
  run check "$@"
  local got=invalid why c=1
  [ "$rc" -eq 0 ] && got=valid
  why=$(printf '%s\n' "$out" | sed -n 's/^    - //p' | head -1)
  # An invalid text must come with a reason.
  [ "$got" = "$want" ] && { [ "$want" = valid ] || [ -n "$why" ]; } && c=0
  record_check "check $*" "$want" "$got${why:+: $why}" "$c"
}
check valid 01D00100
check valid 02Y0010
check valid 02X0001A --type 6
check valid 01G00010 --type 3
check valid 01d00100_d --suffix
check invalid 65D00100
check invalid '01#00100'
check invalid 01G00011 --type 3
check invalid 01D0010
check invalid 02X0001 --type 6

# ---------------------------------------------------------------- reads
echo
echo "== Reads"
read_value() {  # read_value STEP EXPECTED TAG [options]
  local step=$1 want=$2
  shift 2
  run read "$@" "${S[@]}"
  record "$step" "$want" "$(value_of)"
}
read_value "read word D100 (PLC 1)" 1234 01D00100
read_value "read double word D200 (PLC 1)" 305419896 01D00200 --type 3
read_value "read double word LD10 (PLC 2)" 11259375 02G00010
read_value "read bit R10.5 (PLC 1)" 1 01R00105
read_value "read bit R10.4 (PLC 1)" 0 01R00104
read_value "read bit X1.A (PLC 2)" 1 02X0001A
run read 02D00300 --count 3 "${S[@]}"
record "read block 3 x 16-bit D300 (PLC 2)" "11 22 33" "$(block_of)"
run read 01D00400 --count 2 --type 3 "${S[@]}"
record "read block 2 x 32-bit D400 (PLC 1)" "100000 2147483647" "$(block_of)"
# 27 double words: an answer of 225 characters, which PLC 10 sends in two
# parts; the driver asks for the second with "%0A**&".
parts_before=$(grep -c -- '-> st 10  .*\*\*&' "$work/sim.err")
run read 10D01000 --count 27 --type 3 "${S[@]}"
block=$(block_of)
echo "    the frames on the wire (etlan-sim --trace):"
grep -E -- '(->|<-) st 10 ' "$work/sim.err" | tail -n 4 | sed 's/^/      /'
parts=$(($(grep -c -- '-> st 10  .*\*\*&' "$work/sim.err") - parts_before))
record "read block 27 x 32-bit D1000 (PLC 10, in parts)" "131073 ... 3538997, 1 next-part request" \
  "${block%% *} ... ${block##* }, $parts next-part request"

# ---------------------------------------------------------------- writes
echo
echo "== Writes, read back"
run write 01D00500 4321 "${S[@]}"
record "write word D500 = 4321" "exit 0" "exit $rc"
read_value "  read back D500" 4321 01D00500
run write 02D00600_D 0x12345678 "${S[@]}"
record "write double word D600 = 0x12345678 (_D)" "exit 0" "exit $rc"
read_value "  read back D600 (_D)" 305419896 02D00600_D
read_value "  read back D600 as words" 22136 02D00600
read_value "  read back D601 as words" 4660 02D00601
run write 01R00203 1 "${S[@]}"
record "write contact R20.3 = 1" "exit 0" "exit $rc"
read_value "  read back R20.3" 1 01R00203
read_value "  read back word R20" 8 01R0020
run write 01R00203 0 "${S[@]}"
read_value "  write 0, read back R20.3" 0 01R00203
run write 02X00010 1 "${S[@]}"
record "write contact X1.0 (input, read-only)" "result 1" "result $(result_of)"

# ---------------------------------------------------------------- no file
echo
echo "== A PLC without a station file: --host gives its address (etlan writes the"
echo "   driver a station file of its own); two words read as one float"
run write 01D00700_D 0x40490FDB --host "127.0.0.1:${port[1]}"
record "write D700 = 0x40490FDB with --host" "exit 0" "exit $rc"
run read 01D00700 --host "127.0.0.1:${port[1]}" --format float
float=$(printf '%s\n' "$out" | sed -n 's/^01D00700 (.*, 32-bit float): //p')
record "read D700 with --host --format float" "3.1415927" "${float:-none}"

# ---------------------------------------------------------------- trace
echo
echo "== The frames on the wire, as etlan --trace relays them (standard error)"
run read 01D00100 --trace "${S[@]}"
sent=$(printf '%s\n' "$out" | grep -c -- '-> st 01  10 00 14 00 00 00 00 00 00 00 01 41  %01#RDD0010000100\*\*')
answer=$(printf '%s\n' "$out" | sed -n 's/.*<- st 01  10 00 .* \(%01\$RD[0-9A-F]*\)\\r.*/\1/p' | head -1)
record "--trace: the read's frames" "1 command, answer %01\$RDD20464" "$sent command, answer ${answer:-none}"
run read 01D99999 --trace "${S[@]}"
refused=$(printf '%s\n' "$out" | grep -c 'PLC error 61: data error: address or value out of range')
record "--trace: a refused address (D99999), each answer" "3 x PLC error 61, exit 1" "$refused x PLC error 61, exit $rc"

# ---------------------------------------------------------------- no answer
echo
echo "== Stations that do not answer"
run read 03D00100 -o -v "${S[@]}"
ok=1
[ "$(result_of)" = 2 ] && [ "$took" -lt 6500 ] && ok=0
record_check "read from PLC 3 (connected, never answers)" "result 2 in < 6.5 s" \
  "result $(result_of) in $(awk -v t="$took" 'BEGIN{printf "%.1f", t/1000}') s" "$ok"
why=$(printf '%s\n' "$out" | sed -n 's/.*log | \(ZavUR: station 3 fails: .*\)/\1/p' | head -1)
record "  the host log says why" "ZavUR: station 3 fails: no answer within 1000 ms to %03#RDD0010000100**; resting 5 s" "$why"
run read 04D00100 -o "${S[@]}"
ok=1
[ "$(result_of)" = 2 ] && [ "$took" -lt 2000 ] && ok=0
record_check "read from PLC 4 (refused at the start)" "result 2 in < 2 s" \
  "result $(result_of) in $(awk -v t="$took" 'BEGIN{printf "%.1f", t/1000}') s" "$ok"
run read 05D00100 "${S[@]}"
record "read from PLC 5 (not in the station file)" "result 2" "result $(result_of)"

# ---------------------------------------------------------------- poll
echo
echo "== Poll"
run poll 01D00100 01R00105 02G00010 -l 50 -n 3 "${S[@]}"
summary=$(printf '%s\n' "$out" | grep 'requests transmitted')
record "poll 3 tags x 3" "9 requests transmitted, 9 received, 0 errors, 0.0% request loss" "$summary"

# ---------------------------------------------------------------- silent
echo
echo "== A poll with one PLC that stops answering: station 8 drops its next 4 answers"
echo "   (its line: timeout=200 rest=1); the other stations keep their rounds, and"
echo "   the host log says when station 8 rests and when it answers again"
"$sim" --station 8 --set D100=88 --for 8 --drop 4 >"$work/sim8.out" 2>"$work/sim8.err" </dev/null &
sim8_pid=$!
port8=$(ready_port 8 "$work/sim8.out")
silent=$work/silent.int
{
  echo "PC-stn: 65"
  printf '01 "127.0.0.1" "%s"\n' "${port[1]}"
  printf '02 "127.0.0.1" "%s"\n' "${port[2]}"
  printf '08 "127.0.0.1" "%s" timeout=200 rest=1\n' "$port8"
} >"$silent"
sed 's/^/    /' "$silent"
run poll 01D00100 08D00100 02D00100 -l 100 -n 30 -v -s "$silent"
kill "$sim8_pid" 2>/dev/null
wait "$sim8_pid" 2>/dev/null
sim8_pid=
good1=$(printf '%s\n' "$out" | sed -n 's/^tag 01D00100: good \([0-9]*\),.*/\1/p')
rounds=$(printf '%s\n' "$out" | sed -n 's/^\([0-9]*\) rounds in \([0-9.]*\) s.*/\1 rounds in \2 s/p')
ok=1
secs=$(printf '%s\n' "$rounds" | sed -n 's/.* in \([0-9.]*\) s/\1/p')
# Without the rest each round would wait 0.6 s for station 8: about 18 s.
[ "$good1" = 30 ] && awk -v s="${secs:-99}" 'BEGIN { exit !(s < 10) }' && ok=0
record_check "poll with PLC 8 silent: station 1's reads" "30 good, 30 rounds in < 10 s" "${good1:-?} good, ${rounds:-?}" "$ok"
rest=$(printf '%s\n' "$out" | sed -n 's/.*log | \(ZavUR: station 8 fails: .*\)/\1/p' | head -1)
record "  the host log: station 8 rests" "ZavUR: station 8 fails: no answer within 200 ms to %08#RDD0010000100**; resting 1 s" "$rest"
back=$(printf '%s\n' "$out" | sed -n 's/.*log | \(ZavUR: station 8 answers again after [0-9]* failed exchanges\).*/\1/p' | head -1)
ok=1
[ -n "$back" ] && ok=0
record_check "  the host log: station 8 answers again" "ZavUR: station 8 answers again after N failed exchanges" "${back:-none}" "$ok"

# ---------------------------------------------------------------- restart
echo
echo "== A poll that outlives a PLC restart: station 7's simulator is stopped"
echo "   once the poll has read it and started again on the same port 0.5 s later"
"$sim" --station 7 --set D100=77 -v >"$work/sim7.out" 2>"$work/sim7.err" </dev/null &
sim7_pid=$!
port7=$(ready_port 7 "$work/sim7.out")
stations7=$work/restart.int
{
  echo "PC-stn: 65"
  printf '07 "127.0.0.1" "%s"\n' "$port7"
} >"$stations7"
# Ended, or a zombie waiting for this shell to take its status.
gone() { [ ! -e "/proc/$1" ] || grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null; }
# The stop comes once the poll's second round has reached the station,
# however long etlan took to start; the new simulator once the old one has
# gone. Both waits are bounded.
( for _ in $(seq 1 6000); do
    [ "$(grep -c ' <- ' "$work/sim7.err" 2>/dev/null)" -ge 2 ] && break
    sleep 0.01
  done
  kill "$sim7_pid"
  for _ in $(seq 1 1000); do gone "$sim7_pid" && break; sleep 0.01; done
  sleep 0.5
  exec "$sim" --station "7:$port7" --set D100=77 >"$work/sim7.out" 2>"$work/sim7.err" </dev/null ) &
restart_pid=$!
run poll 07D00100 -l 50 -n 60 -s "$stations7"
reconnected=$(printf '%s\n' "$out" | grep -o 'station 7: [0-9]* reconnection(s) by WarmStart' | head -1)
record "poll: station 7 reconnected by WarmStart" "station 7: 1 reconnection(s) by WarmStart" "$reconnected"
last=$(printf '%s\n' "$out" | grep -o '#60  07D00100=[0-9]*' | tail -1)
record "poll: the last round reads the restarted PLC" "#60  07D00100=77" "$last"
stop_sim7

total=$(($(ms_now) - t_start))
ok=1
[ "$total" -lt 30000 ] && ok=0
record_check "whole demo" "< 30 s" "$(awk -v t="$total" 'BEGIN{printf "%.1f", t/1000}') s" "$ok"

# ---------------------------------------------------------------- table
echo
echo "== What happened"
w1=4 w2=8
for i in "${!steps[@]}"; do
  [ ${#steps[$i]} -gt $w1 ] && w1=${#steps[$i]}
  [ ${#expects[$i]} -gt $w2 ] && w2=${#expects[$i]}
done
printf "%-${w1}s  %-${w2}s  %-4s  %s\n" "step" "expected" "" "got"
for i in "${!steps[@]}"; do
  printf "%-${w1}s  %-${w2}s  %-4s  %s\n" "${steps[$i]}" "${expects[$i]}" "${verdicts[$i]}" "${gots[$i]}"
done
echo
if [ "$failures" -eq 0 ]; then
  echo "demo: all ${#steps[@]} steps behaved as expected ($(awk -v t="$total" 'BEGIN{printf "%.1f", t/1000}') s)"
  exit 0
fi
echo "demo: $failures of ${#steps[@]} steps FAILED"
exit 1
