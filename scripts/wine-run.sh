#!/usr/bin/env bash
# The emulator of the mingw build: runs one Windows program under Wine and
# passes on its output and exit status.
#
# The program's output goes through a temporary file rather than straight to
# the caller's pipes: Wine may start helper processes on demand (the desktop
# process for the first window, RPC services) that inherit the program's
# standard streams and live on for seconds after it exits. Were those the
# caller's pipes, ctest would wait for the helpers before counting the test
# as finished.
#
# ETL_WINE names the Wine loader (scripts/with-wine.sh sets it); default wine.
out=$(mktemp "${TMPDIR:-/tmp}/etl-wine-run.XXXXXX") || exit 125
"${ETL_WINE:-wine}" "$@" >"$out" 2>&1
status=$?
cat "$out"
rm -f "$out"
exit "$status"
