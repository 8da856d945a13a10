#!/usr/bin/env bash
# The Wireshark dissector (tools/wireshark/etlan.lua) under the real tshark,
# on captures that etlan-sim --record writes:
#   1. a session like the demo: etlan reads, writes and polls through the
#      driver (a read answered in parts, an answer sent in pieces, stray
#      bytes before an answer), and a raw client sends every command kind,
#      the texts that draw each negative answer the simulator gives, two
#      frames in one segment and frames cut across segments; a station that
#      drops an answer (the driver asks again) and requests left unanswered;
#   2. malformed traffic written by capture_helper fuzz;
#   3. TCP streams on other ports that the heuristic must leave alone, and
#      one it must find (capture_helper lookalike).
# The decoded fields are compared row by row, by Decode As and by the
# heuristic alone; tshark must exit 0 and never report a Lua error.
#
# usage: dissector_test.sh BIN_DIR SOURCE_DIR   (exit 77: tshark is missing)
set -u

bin=$1
src=$2
lua=$src/tools/wireshark/etlan.lua

if ! command -v tshark >/dev/null; then
  echo "SKIP: tshark is not installed (scripts/install-deps.sh installs it)"
  exit 77
fi

work=$(mktemp -d)
sim_pid=
# DISSECTOR_TEST_KEEP=DIR keeps the captures and tshark's output there.
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  [ -n "${DISSECTOR_TEST_KEEP:-}" ] && mkdir -p "$DISSECTOR_TEST_KEEP" && cp -r "$work"/. "$DISSECTOR_TEST_KEEP"/
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# tshark with the dissector; its standard error (the warning about running
# as root aside) must stay empty.
ts() {
  tshark -n -X lua_script:"$lua" "$@" 2>"$work/ts.err"
  local rc=$?
  grep -v 'Running as user "root"' "$work/ts.err" >"$work/ts.err2"
  if [ $rc -ne 0 ] || [ -s "$work/ts.err2" ]; then
    fail "tshark $* exited $rc: $(cat "$work/ts.err2")"
  fi
}

# --- the error table agrees with mewtocol/plc_errors.h ----------------------
sed -n 's/^ *{\([0-9]*\), "\(.*\)"},$/\1 \2/p' "$src/mewtocol/plc_errors.h" >"$work/errors.h.txt"
sed -n 's/^ *\[\([0-9]*\)\] = "\(.*\)",$/\1 \2/p' "$lua" >"$work/errors.lua.txt"
if [ ! -s "$work/errors.h.txt" ] || ! diff "$work/errors.h.txt" "$work/errors.lua.txt"; then
  fail "the dissector's error table differs from mewtocol/plc_errors.h"
fi

# --- the session -------------------------------------------------------------
"$bin/etlan-sim" --station 1 --station 2 --station 3 --station 4 --station 5 \
  --set D100=1234 --set D101=0x5678 --set R10=0x0020 --set R11=0x8001 \
  --set SV5=300 --set EV5=120 --set IX=7 --set LD0=42 --set F0=9 \
  --for 2 --split 40 --for 3 --pieces 7 --for 4 --stray '\r\n' --for 5 --drop 1 \
  --record "$work/session.pcap" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
  [ "$(grep -c '^ready' "$work/sim.out")" -eq 5 ] && break
  sleep 0.05
done
port() { awk -v n="$1" '$1 == "ready" && $3 == n { print $5 }' "$work/sim.out"; }
p1=$(port 1) p2=$(port 2) p3=$(port 3) p4=$(port 4) p5=$(port 5)
if [ -z "$p5" ]; then
  echo "FAIL: etlan-sim did not start: $(cat "$work/sim.err")"
  exit 1
fi
printf 'ETLANPC 10\n01 "127.0.0.1" "%s"\n02 "127.0.0.1" "%s"\n03 "127.0.0.1" "%s"\n04 "127.0.0.1" "%s"\n05 "127.0.0.1" "%s"\n' \
  "$p1" "$p2" "$p3" "$p4" "$p5" >"$work/stations.int"

etlan() {
  if ! "$bin/etlan" -s "$work/stations.int" "$@" >>"$work/etlan.out" 2>&1; then
    fail "etlan $*: $(tail -3 "$work/etlan.out")"
  fi
}
etlan read 01D00100
etlan write 01D00300 4711
etlan read 01R00105
etlan write 01R00107 1
etlan write 01D00400_D -7
etlan -c 10 read 02D00100
etlan -1 poll 01D00100 03D00101
# Station 5 drops the first answer: the driver asks again after its time-out.
etlan read 05D00100

zeros120=$(printf '0%.0s' $(seq 120))
"$bin/capture_helper" client "$p1" "$work/session.pcap" >"$work/client.out" 2>&1 <<EOF || fail "client of station 1: $(cat "$work/client.out")"
frame %01#RCCR00100011{bcc}\r
frame %01#WCCR001200123412{bcc}\r
frame %01#WCSR01051{bcc}\r
frame %01#RDD0010000101**\r
frame %01#WDD0030000301D2042E16{bcc}\r
frame %01#RDL0000000000**\r
frame %01#RDF0000000000{bcc}\r
frame %01#RDIX0000000001**\r
frame %01#WDIY0000000000700{bcc}\r
frame %01#RS00050005{bcc}\r
frame %01#WS000500062C010000{bcc}\r
frame %01#RK00050005**\r
frame %01#WK000500057800{bcc}\r
frame %01#RDD001000010100\r
frame %01#RDD001000010**\r
frame %01#XY0000{bcc}\r
frame %01**&\r
frame %01#RDD4000040000**\r
frame %01#WCCX000000000000{bcc}\r
frame %01#WDD0000000029${zeros120}**\r
silent %02#RDD0010000100**\r
together %01#RDD0010000100**\r|%01#RDD0010100101**\r
split 5 %01#RDD0010000101**\r
split 20 %01#RDD0010100101**\r
EOF
"$bin/capture_helper" client "$p2" "$work/session.pcap" >"$work/client2.out" 2>&1 <<'EOF' || fail "client of station 2: $(cat "$work/client2.out")"
frame %02#RDD0010000119**\r
frame %02**&\r
frame %02{bcc}&\r
EOF
# Station 4's connection ends behind a request that gets no answer.
"$bin/capture_helper" client "$p4" "$work/session.pcap" >"$work/client4.out" 2>&1 <<'EOF' || fail "client of station 4: $(cat "$work/client4.out")"
frame %04#RDD0010000100**\r
silent %02#RDD0010100101**\r
EOF
# The first frame of a connection cut behind its header.
"$bin/capture_helper" client "$p3" "$work/session.pcap" >"$work/client3.out" 2>&1 <<'EOF' || fail "client of station 3: $(cat "$work/client3.out")"
split 12 %03#RDD0010000101**\r
EOF

kill -TERM "$sim_pid"
wait "$sim_pid" || fail "etlan-sim exited with $?: $(cat "$work/sim.err")"
sim_pid=

# --- what tshark decodes -----------------------------------------------------
decode=(-d "tcp.port==$p1,etlan" -d "tcp.port==$p2,etlan" -d "tcp.port==$p3,etlan"
        -d "tcp.port==$p4,etlan" -d "tcp.port==$p5,etlan")
fields=(-Y etlan -T fields -E occurrence=a
  -e tcp.segment.count -e etlan.text -e etlan.kind -e etlan.command -e etlan.area -e etlan.index
  -e etlan.start -e etlan.end -e etlan.word -e etlan.code -e etlan.error -e etlan.bcc.status
  -e etlan.part -e etlan.more -e etlan.asks_part -e etlan.word_address -e etlan.bit
  -e etlan.contact)
ts -r "$work/session.pcap" "${decode[@]}" "${fields[@]}" | sed 's/\t*$//' >"$work/rows.txt"
# A second pass (as Wireshark's display makes) decodes the parts the same.
ts -2 -r "$work/session.pcap" "${decode[@]}" "${fields[@]}" | sed 's/\t*$//' >"$work/rows2.txt"
cmp -s "$work/rows.txt" "$work/rows2.txt" || fail "a second pass decodes differently"
# The heuristic alone (no port of the session is 9094) decodes the same.
# Heuristics first: an ephemeral port may be one that a dissector of
# another protocol is registered for.
ts -r "$work/session.pcap" -o tcp.try_heuristic_first:TRUE "${fields[@]}" | sed 's/\t*$//' >"$work/rows3.txt"
cmp -s "$work/rows.txt" "$work/rows3.txt" ||
  fail "the heuristic decodes differently from Decode As: $(diff "$work/rows.txt" "$work/rows3.txt" | head -5)"
# Answers point to their command, and on a second pass the command to its
# answer: the WK write, and the read in three parts (every part to the command).
one() { ts -r "$work/session.pcap" "${decode[@]}" "$@" -T fields -E occurrence=f | sort -u | tr '\n' ' '; }
wk_command=$(one -Y 'etlan.command == "WK"' -e frame.number)
wk_answer=$(one -Y 'etlan.code == "WK"' -e frame.number)
[ "$(one -Y 'etlan.code == "WK"' -e etlan.request_in)" = "$wk_command" ] ||
  fail "the WK answer (frame $wk_answer) does not point to its command (frame $wk_command)"
[ "$(one -2 -Y 'etlan.command == "WK"' -e etlan.answer_in)" = "$wk_answer" ] ||
  fail "the WK command (frame $wk_command) does not point to its answer (frame $wk_answer)"
parts_command=$(one -Y 'etlan.command == "RD" && etlan.end == 119' -e frame.number)
{ [ -n "$parts_command" ] &&
  [ "$(one -Y "etlan.part && frame.number > ${parts_command% }" -e etlan.request_in)" = "$parts_command" ]; } ||
  fail "the parts of the answer to frame $parts_command do not all point to it"
first_part=$(one -Y "etlan.part == 1 && frame.number > ${parts_command% }" -e frame.number)
[ "$(one -2 -Y "frame.number == ${parts_command% }" -e etlan.answer_in)" = "$first_part" ] ||
  fail "the command in frame $parts_command does not point to its first part (frame $first_part)"
# The capture itself: valid IP and TCP checksums, nothing for TCP analysis
# to complain about (sequence and acknowledgement numbers fit).
problems=$(ts -r "$work/session.pcap" -o tcp.check_checksum:TRUE -o ip.check_checksum:TRUE \
             -Y 'tcp.analysis.flags || tcp.checksum.status != 1 || ip.checksum.status != 1')
[ -z "$problems" ] || fail "the capture has TCP or IP problems: $problems"
ts -r "$work/session.pcap" "${decode[@]}" -V >"$work/session.txt"

# Rows: segments, text, kind (1 command, 2 next-part request, 3 positive,
# 4 negative, 5 further part), command, area, index register, start, end,
# words, answer code, error, BCC status (0 invalid, 1 verified, 2 "**"),
# part, more parts, part asked for, contact word, bit, contact value.
T=$'\t'
expect_row() {
  local row
  row=$(printf '%s\t' "$@")
  row=${row%"$T"}
  grep -qFx -- "$row" "$work/rows.txt" || fail "no row: $row"
}
# Through the driver: a read, a write, a contact read and write, a read in
# parts (first part, next-part request, last part), a poll of two stations.
expect_row "" '%01#RDD0010000100**\r' 1 RD D "" 100 100 "" "" "" 2
expect_row "" '%01$RDD20464\r' 3 "" "" "" "" "" 1234 RD "" 1
expect_row "" '%01#WDD00300003006712**\r' 1 WD D "" 300 300 4711 "" "" 2
expect_row "" '%01$WD13\r' 3 "" "" "" "" "" "" WD "" 1
expect_row "" '%01#RCCR00100010**\r' 1 RCC R "" 10 10 "" "" "" 2
expect_row "" '%01$RC200013\r' 3 "" "" "" "" "" 32 RC "" 1
expect_row "" '%01#WCSR0107125\r' 1 WCS R "" "" "" "" "" "" 1 "" "" "" 10 7 1
expect_row "" '%01$WC14\r' 3 "" "" "" "" "" "" WC "" 1
expect_row "" '%01#WDD0040000401F9FFFFFF**\r' 1 WD D "" 400 401 65529,65535 "" "" 2
expect_row "" '%02#RDD0010000109**\r' 1 RD D "" 100 109 "" "" "" 2
expect_row "" '%02$RDD204785600000000000000000000006B&\r' 3 "" "" "" "" "" 1234,22136,0,0,0,0,0 RD "" 1 1 1
expect_row "" '%02**&\r' 2 "" "" "" "" "" "" "" "" 2 "" "" 2
expect_row "" '%02000000000027\r' 5 "" "" "" "" "" 0,0,0 "" "" 1 2
# An answer sent in pieces of 7 bytes: one frame over four segments.
expect_row "" '%03#RDD0010100101**\r' 1 RD D "" 101 101 "" "" "" 2
expect_row 4 '%03$RD785618\r' 3 "" "" "" "" "" 22136 RD "" 1
# A connection's first frame cut behind its header, and its answer.
expect_row 2 '%03#RDD0010000101**\r' 1 RD D "" 100 101 "" "" "" 2
expect_row 5 '%03$RDD20478566A\r' 3 "" "" "" "" "" 1234,22136 RD "" 1
# The raw client: every command kind and its answer.
expect_row "" '%01#RCCR0010001106\r' 1 RCC R "" 10 11 "" "" "" 1
expect_row "" '%01$RCA000018069\r' 3 "" "" "" "" "" 160,32769 RC "" 1
expect_row "" '%01#WCCR00120012341206\r' 1 WCC R "" 12 12 4660 "" "" 1
expect_row "" '%01#WCSR0105127\r' 1 WCS R "" "" "" "" "" "" 1 "" "" "" 10 5 1
expect_row "" '%01$RDD204785668\r' 3 "" "" "" "" "" 1234,22136 RD "" 1
expect_row "" '%01#WDD0030000301D2042E1653\r' 1 WD D "" 300 301 1234,5678 "" "" 1
expect_row "" '%01#RDL0000000000**\r' 1 RD L "" 0 0 "" "" "" 2
expect_row "" '%01$RD2A0065\r' 3 "" "" "" "" "" 42 RD "" 1
expect_row "" '%01#RDF000000000057\r' 1 RD F "" 0 0 "" "" "" 1
expect_row "" '%01$RD09001F\r' 3 "" "" "" "" "" 9 RD "" 1
expect_row "" '%01#RDIX0000000001**\r' 1 RDI "" X 0 1 "" "" "" 2
expect_row "" '%01$RD0700000011\r' 3 "" "" "" "" "" 7,0 RD "" 1
expect_row "" '%01#WDIY000000000070033\r' 1 WDI "" Y 0 0 7 "" "" 1
expect_row "" '%01#RS0005000506\r' 1 RS "" "" 5 5 "" "" "" 1
expect_row "" '%01$RS2C0171\r' 3 "" "" "" "" "" 300 RS "" 1
expect_row "" '%01#WS000500062C01000070\r' 1 WS "" "" 5 6 300,0 "" "" 1
expect_row "" '%01$WS04\r' 3 "" "" "" "" "" "" WS "" 1
expect_row "" '%01#RK00050005**\r' 1 RK "" "" 5 5 "" "" "" 2
expect_row "" '%01$RK780016\r' 3 "" "" "" "" "" 120 RK "" 1
expect_row "" '%01#WK00050005780014\r' 1 WK "" "" 5 5 120 "" "" 1
expect_row "" '%01$WK1C\r' 3 "" "" "" "" "" "" WK "" 1
# Every negative answer the simulator gives, after the text that drew it:
# a wrong BCC (marked invalid), a short end address, an unknown command, a
# next-part request with nothing pending, an address past the end, a write
# to inputs, a text over 118 characters.
expect_row "" '%01#RDD001000010100\r' 1 RD D "" 100 101 "" "" "" 0
expect_row "" '%01!4001\r' 4 "" "" "" "" "" "" "" 40 1
expect_row "" '%01#RDD001000010**\r' 1 RD D "" "" "" "" "" "" 2
expect_row "" '%01!4100\r' 4 "" "" "" "" "" "" "" 41 1
expect_row "" '%01#XY000006\r' 1 XY "" "" "" "" "" "" "" 1
expect_row "" '%01!4203\r' 4 "" "" "" "" "" "" "" 42 1
expect_row "" '%01**&\r' 2 "" "" "" "" "" "" "" "" 2
expect_row "" '%01!4302\r' 4 "" "" "" "" "" "" "" 43 1
expect_row "" '%01#RDD4000040000**\r' 1 RD D "" 40000 40000 "" "" "" 2
expect_row "" '%01!6102\r' 4 "" "" "" "" "" "" "" 61 1
expect_row "" '%01#WCCX00000000000008\r' 1 WCC X "" 0 0 0 "" "" 1
expect_row "" '%01!6506\r' 4 "" "" "" "" "" "" "" 65 1
expect_row "" "%01#WDD0000000029${zeros120}**\\r" 1 WD D "" 0 29 "$(printf '0,%.0s' $(seq 29))0" "" "" 2
expect_row "" '%01!2700\r' 4 "" "" "" "" "" "" "" 27 1
# Another station's text (no answer); two frames in one segment and their
# answers; frames cut across two segments (in the header, in the text).
expect_row "" '%02#RDD0010000100**\r' 1 RD D "" 100 100 "" "" "" 2
expect_row "" '%01#RDD0010000100**\r,%01#RDD0010100101**\r' 1,1 RD,RD D,D "" 100,101 100,101 "" "" "" 2,2
expect_row "" '%01$RD78561A\r' 3 "" "" "" "" "" 22136 RD "" 1
expect_row 2 '%01#RDD0010000101**\r' 1 RD D "" 100 101 "" "" "" 2
expect_row 2 '%01#RDD0010100101**\r' 1 RD D "" 101 101 "" "" "" 2
# The raw client's read in three parts, the second asked for with "**",
# the third with the BCC of "%02".
expect_row "" '%02#RDD0010000119**\r' 1 RD D "" 100 119 "" "" "" 2
expect_row "" '%0200000000000000000000000000000000017&\r' 5 "" "" "" "" "" 0,0,0,0,0,0,0,0 "" "" 1 2 1
expect_row "" '%0227&\r' 2 "" "" "" "" "" "" "" "" 1 "" "" 3
expect_row "" '%020000000000000000017\r' 5 "" "" "" "" "" 0,0,0,0,0 "" "" 1 3
# Station 4 sends two stray bytes before its answer.
expect_row "" '%04$RDD20461\r' 3 "" "" "" "" "" 1234 RD "" 1
grep -qF '[Expert Info (Error/Malformed): 2 bytes outside any ET-LAN frame]' "$work/session.txt" ||
  fail "the stray bytes before station 4's answer are not marked"

# Words with their addresses, the error codes' meanings, the BCC marks.
for line in 'Word DT100: 1234 (0x04D2)' 'Word WR11: 32769 (0x8001)' 'Word SV5: 300 (0x012C)' \
            'Word EV5: 120 (0x0078)' 'Word LD0: 42 (0x002A)' 'Word IX word 0: 7 (0x0007)' \
            'Word DT107: 0 (0x0000) (begins in the previous part)' \
            'Error code: data error: address or value out of range (61)' \
            'Error code: protect error (65)' 'Error code: command not supported (42)' \
            'Error code: block check code error (40)' 'Error code: multiple-frame procedure error (43)' \
            'Error code: command not supported or text too long (27)' 'Error code: format error (41)' \
            'Block check code: 00 [invalid, expected 54]' 'Block check code: 25 [verified]' \
            'Command: WCS (write one contact)' 'Memory area: R, internal relay, words WR' \
            'Index register: X, IX' 'More parts follow: True' '[Asks for part: 2]' '[Part: 3]' \
            'Text length: 20' '[Expert Info (Warning/Sequence): a next-part request with no answer in parts pending]' \
            '[Expert Info (Error/Checksum): wrong block check code 00, expected 54]' \
            '[Expert Info (Error/Malformed): start and end address must be 5 and 5 digits]'; do
  grep -qF -- "$line" "$work/session.txt" || fail "-V output lacks: $line"
done
grep -q 'Lua Error' "$work/session.txt" && fail "Lua error in the session: $(grep -m3 'Lua Error' "$work/session.txt")"

# Requests without an answer: station 5's first (the driver asks again after
# its time-out), the text for station 2 on station 1's connection (the next
# request comes) and the last request on station 4's connection (the
# connection ends). One pass marks the next request; two passes also the
# request itself. No other request is marked.
read -r dropped retry _ < <(ts -r "$work/session.pcap" "${decode[@]}" -Y 'etlan.station == "05" && etlan.kind == 1' \
                             -T fields -e frame.number | tr '\n' ' ')
[ "$(one -Y "etlan.unanswered_in == $dropped" -e frame.number)" = "$retry " ] ||
  fail "the driver's second request (frame $retry) does not name frame $dropped as unanswered"
grep -qF "[Expert Info (Warning/Sequence): the request in frame $dropped got no answer in " "$work/session.txt" ||
  fail "-V output lacks the expert item of the request after frame $dropped"
silent=$(one -Y "etlan.station == \"02\" && tcp.dstport == $p1" -e frame.number)
together=$(one -Y 'count(etlan.command) == 2' -e frame.number)
last=$(one -Y "etlan.station == \"02\" && tcp.dstport == $p4" -e frame.number)
ts -2 -r "$work/session.pcap" "${decode[@]}" -Y etlan.unanswered -T fields -e frame.number \
  -e _ws.expert.message | sed 's/, [0-9.]* s later$//' >"$work/unanswered.txt"
printf '%s\n' "$dropped${T}no answer to this request before the next one in frame $retry" \
  "${silent% }${T}no answer to this request before the next one in frame ${together% }" \
  "${last% }${T}no answer to this request before the connection or the capture ends" >"$work/unanswered.want"
cmp -s "$work/unanswered.want" "$work/unanswered.txt" ||
  fail "requests marked unanswered on a second pass: $(cat "$work/unanswered.txt")"
# Two commands in one segment: each answer has its own command's words.
ts -r "$work/session.pcap" "${decode[@]}" -Y "etlan.request_in == ${together% } && etlan.word == 1234" -O etlan |
  grep -qF 'Word DT100: 1234 (0x04D2)' || fail "the first answer to the two commands of frame $together is not DT100's"

# The Info column: a write's values (two words also as a signed 32-bit
# value), a bit read by its contacts and the contacts that are on.
ts -r "$work/session.pcap" "${decode[@]}" -Y etlan -T fields -e _ws.col.Info >"$work/info.txt"
for line in '01 command WD DT300 := 4711' '01 command WD DT400-DT401 := 65529, 65535 (32-bit -7)' \
            '01 command RCC R100-R10F (WR10)' '01 positive answer RC 1 word (R105 on)'; do
  grep -qFx -- "$line" "$work/info.txt" || fail "the Info column lacks: $line"
done

# The port preference instead of Decode As (the heuristic off).
n=$(ts -r "$work/session.pcap" --disable-heuristic etlan_tcp -o "etlan.port:$p1" -Y etlan | wc -l)
m=$(ts -r "$work/session.pcap" --disable-heuristic etlan_tcp -o "etlan.port:$p1" -Y "etlan && tcp.port != $p1" | wc -l)
{ [ "$n" -gt 30 ] && [ "$m" -eq 0 ]; } || fail "preference etlan.port:$p1 decodes $n frames ($m on other ports)"

# --- malformed frames ----------------------------------------------------------
if ! "$bin/capture_helper" fuzz "$work/fuzz.pcap" 14 >"$work/fuzz.out" 2>&1; then
  fail "capture_helper fuzz: $(cat "$work/fuzz.out")"
fi
ts -r "$work/fuzz.pcap" -V >"$work/fuzz.txt"
grep -q 'Lua Error' "$work/fuzz.txt" && fail "Lua error on malformed frames: $(grep -m3 'Lua Error' "$work/fuzz.txt")"
# Port 9094, the default: decoded without Decode As or preference.
bad=$(ts -r "$work/fuzz.pcap" -Y 'etlan.malformed || etlan.stray' | wc -l)
all=$(ts -r "$work/fuzz.pcap" -Y 'etlan' | wc -l)
[ "$bad" -gt 500 ] || fail "only $bad of $all decoded packets are marked malformed"
echo "fuzz capture: $all packets decoded, $bad marked malformed"
# The same through the heuristic, without the port.
ts -r "$work/fuzz.pcap" -o etlan.port:0 -V >"$work/fuzz-heuristic.txt"
grep -q 'Lua Error' "$work/fuzz-heuristic.txt" &&
  fail "Lua error on malformed frames found by the heuristic: $(grep -m3 'Lua Error' "$work/fuzz-heuristic.txt")"

# --- other TCP traffic -------------------------------------------------------
# The heuristic finds the exchange on port 9096 and nothing else.
if "$bin/capture_helper" lookalike "$work/lookalike.pcap" >"$work/lookalike.out" 2>&1; then
  found=$(ts -r "$work/lookalike.pcap" -Y etlan -T fields -e tcp.srcport -e tcp.dstport -e etlan.kind | tr '\t\n' ', ')
  [ "$found" = "50001,9096,1 9096,50001,3 " ] || fail "the heuristic decodes in the look-alike capture: $found"
else
  fail "capture_helper lookalike: $(cat "$work/lookalike.out")"
fi

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed; rows decoded:"
  cat "$work/rows.txt"
  exit 1
fi
echo "dissector: every check passed"
