#!/usr/bin/env bash
# A release package as a plant gets it: unpacked into an empty folder, its
# checksums and contents checked, and its own tools run from there against
# its own simulator: --version, info, lint of the example station file, a
# read, a write read back, a poll.
#
#   package_test.sh PACKAGE.tar.gz
#   package_test.sh PACKAGE.zip QANPRO.dll    (under Wine: scripts/with-wine.sh)
#   package_test.sh --pack linux|win32 BUILD_DIR
#       packs BUILD_DIR with scripts/dist.sh into a temporary folder first
#       (the ctest form; the win32 form takes QANPRO.dll from BUILD_DIR/bin)
#
# The Windows package holds no QANPRO.dll: the host brings its own runtime.
# For the test the stand-in from the build is copied next to the unpacked
# tools, where the host's own would be.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

tmp=$(mktemp -d "${TMPDIR:-/tmp}/etl-package-test.XXXXXX")
sim_pid='' sim_feed=''
cleanup() {
  [ -n "$sim_feed" ] && exec {sim_feed}>&-
  if [ -n "$sim_pid" ]; then
    for _ in $(seq 1 100); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

if [ "${1:-}" = --pack ]; then
  kind=${2:?--pack linux|win32 BUILD_DIR} build=${3:?--pack linux|win32 BUILD_DIR}
  package=$(bash "$root/scripts/dist.sh" pack "$kind" "$build" "$tmp/out") || exit 1
  set -- "$package"
  [ "$kind" = win32 ] && set -- "$package" "$build/bin/QANPRO.dll"
fi
package=$(realpath "${1:?usage: package_test.sh PACKAGE [QANPRO.dll]}")
qanpro=${2:+$(realpath "$2")}
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

version=$(sed -n 's/^project(ETLANdr VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
mkdir "$tmp/unpacked"
case $package in
  *-win32.zip)
    windows=1 name=ETLANdr-$version-win32 exe=.exe
    expected="CHANGELOG.md ETLANdr.dll README-Windows.txt SHA256SUMS etlan-sim.exe etlan.exe zavUR01.int"
    unzip -q "$package" -d "$tmp/unpacked" || { echo "FAIL: unzip $package"; exit 1; } ;;
  *-linux-x86_64.tar.gz)
    windows=0 name=ETLANdr-$version-linux-x86_64 exe=
    expected="CHANGELOG.md README-Linux.txt SHA256SUMS etlan etlan-sim libETLANdr.so libQANPRO.so zavUR01.int"
    tar -C "$tmp/unpacked" -xzf "$package" || { echo "FAIL: tar $package"; exit 1; } ;;
  *) echo "package_test: not a package name: $package" >&2; exit 2 ;;
esac

# One folder named after the package and version, holding exactly its files.
[ "$(ls "$tmp/unpacked")" = "$name" ] || fail "the package does not unpack into one folder $name: $(ls "$tmp/unpacked")"
dir=$tmp/unpacked/$name
cd "$dir" || exit 1
got=$(ls | LC_ALL=C sort | paste -sd' ')
[ "$got" = "$expected" ] || fail "contents: $got; expected: $expected"
sha256sum --quiet -c SHA256SUMS || fail "SHA256SUMS does not match the files"
[ "$(wc -l < SHA256SUMS)" -eq $(($(echo "$expected" | wc -w) - 1)) ] || fail "SHA256SUMS does not list every file"

if [ "$windows" = 1 ]; then
  objdump=${ETL_OBJDUMP:-i686-w64-mingw32-objdump}
  "$objdump" -f ETLANdr.dll | grep -q 'file format pei-i386' || fail "ETLANdr.dll is no 32-bit DLL"
  "$objdump" -h ETLANdr.dll | grep -q '\.debug_' && fail "ETLANdr.dll is not stripped"
  "$objdump" -h ETLANdr.dll | grep -q '\.gnu_debuglink' || fail "ETLANdr.dll names no debug file"
  [ -n "$qanpro" ] || { echo "usage: package_test.sh PACKAGE.zip QANPRO.dll" >&2; exit 2; }
  cp "$qanpro" . || exit 1  # the host's own runtime, in the field
  wine=${ETL_WINE:-}
  [ -n "$wine" ] || { echo "package_test: run under scripts/with-wine.sh" >&2; exit 2; }
  run() { bash "$root/scripts/wine-run.sh" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }
  start_sim() { "$wine" ./etlan-sim.exe "$@" <"$tmp/feed" >"$tmp/sim.out" 2>"$tmp/sim.err" & sim_pid=$!; }
else
  objdump -h libETLANdr.so | grep -q '\.debug_info' && fail "libETLANdr.so is not stripped"
  readelf -d libETLANdr.so | grep -q 'RUNPATH.*\[\$ORIGIN\]' || fail "libETLANdr.so does not find libQANPRO.so beside it"
  run() { "$@"; }
  start_sim() { ./etlan-sim "$@" <"$tmp/feed" >"$tmp/sim.out" 2>"$tmp/sim.err" & sim_pid=$!; }
fi

# expect WHAT PATTERN COMMAND...: the command succeeds and its output matches.
expect() {
  local what=$1 pattern=$2 out rc
  shift 2
  out=$(run "$@" 2>&1)
  rc=$?
  if [ "$rc" -ne 0 ] || ! grep -qE "$pattern" <<<"$out"; then
    fail "$what: exit status $rc, output:"
    sed 's/^/    /' <<<"$out"
  fi
}

expect "etlan --version" "^etlan $version\$" "./etlan$exe" --version
expect "etlan-sim --version" "^etlan-sim $version\$" "./etlan-sim$exe" --version
expect "etlan info" "^Vendor +: Matsushita" "./etlan$exe" info
expect "etlan lint of the example station file" "2 station\(s\).* 0 error" "./etlan$exe" lint zavUR01.int

# The simulator runs until its standard input ends (a FIFO the test holds).
# Under Wine on a busy machine it may take many seconds to get ready.
mkfifo "$tmp/feed"
start_sim --station 1 --set D100=1234 --stdin-stop
exec {sim_feed}>"$tmp/feed"
port=
for _ in $(seq 1 1200); do
  port=$(awk '/^ready station 1 port/ { print $5 }' "$tmp/sim.out" 2>/dev/null | tr -d '\r')
  [ -n "$port" ] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.05
done
if [ -z "$port" ]; then
  fail "etlan-sim did not get ready:"
  cat "$tmp/sim.out" "$tmp/sim.err"
else
  printf 'ETLANPC 10\r\n01 "127.0.0.1" "%s"\r\n' "$port" > stations.int
  expect "read" "^01D00100 .*: 1234 \(0x04D2\)" "./etlan$exe" read 01D00100 -s stations.int
  expect "write" "wrote 4711" "./etlan$exe" write 01D00300 4711 -s stations.int
  expect "read back" "^4711\$" "./etlan$exe" read 01D00300 -q -s stations.int
  expect "poll" "^2 requests transmitted, 2 received, 0 errors" "./etlan$exe" poll 01D00100 -n 2 -l 50 -s stations.int
fi

if [ "$failures" -ne 0 ]; then
  echo "$(basename "$package"): $failures finding(s)"
  exit 1
fi
echo "$(basename "$package"): ok"
