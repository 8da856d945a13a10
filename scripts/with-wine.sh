#!/usr/bin/env bash
# Runs a command with a private, freshly made Wine prefix, e.g.
#   scripts/with-wine.sh ctest --preset mingw
#   scripts/with-wine.sh bash scripts/wine-run.sh build/mingw/bin/host_test.exe
#
# The prefix lives in a temporary directory and is removed afterwards. One
# persistent wineserver is started first and Wine's services are started by
# `wineboot -i` with all standard streams on /dev/null, so no Wine process
# started later keeps the caller's pipes open (ctest would wait for them).
# The server is stopped at the end, also when the command fails.
#
# Without ETL_WINE_DISPLAY=1 there is no display: DISPLAY is cleared, and
# dialogs fail to open at once. With ETL_WINE_DISPLAY=1 the whole run happens
# inside xvfb-run (a 24-bit 1024x768 screen) and Wine draws its own window
# frames (X11 Driver "Managed" = N), so closing a dialog does not wait for a
# window manager.
#
# ETL_WINE_ARCH selects the prefix: win32 (default; 32-bit Wine, which needs a
# kernel that runs i386 programs) or win64 (64-bit Wine, for the 64-bit
# Windows build). The Wine loader chosen is exported as ETL_WINE, which
# scripts/wine-run.sh uses.
#
# The exit status is the command's.
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: with-wine.sh COMMAND [ARG...]" >&2
  exit 2
fi

if [ "${ETL_WINE_DISPLAY:-0}" = 1 ] && [ -z "${ETL_WINE_IN_XVFB:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "with-wine: xvfb-run is missing (package xvfb)" >&2; exit 2; }
  export ETL_WINE_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
if [ "${ETL_WINE_DISPLAY:-0}" != 1 ]; then
  unset DISPLAY WAYLAND_DISPLAY
fi

# Debian's `wine` and `wineserver` pick the 32-bit loader and the 64-bit
# server whenever both are installed; name them here so each prefix gets the
# loader and server of its own width.
case "${ETL_WINE_ARCH:-win32}" in
  win32) loader=/usr/lib/wine/wine server=/usr/lib/wine/wineserver32 packages="wine, wine32:i386" ;;
  win64) loader=/usr/lib/wine/wine64 server=/usr/lib/wine/wineserver64 packages="wine, wine64" ;;
  *) echo "with-wine: ETL_WINE_ARCH must be win32 or win64" >&2; exit 2 ;;
esac
for tool in "$loader" "$server"; do
  [ -x "$tool" ] || { echo "with-wine: $tool is missing (packages $packages)" >&2; exit 2; }
done
export ETL_WINE="$loader" WINELOADER="$loader" WINESERVER="$server"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/etl-wine.XXXXXX")
export WINEPREFIX="$tmp/prefix"
export WINEARCH=${ETL_WINE_ARCH:-win32}
export WINEDEBUG="-all,err+module"
export WINEDLLOVERRIDES="mscoree,mshtml="

cleanup() {
  "$server" -k </dev/null >/dev/null 2>&1 || true
  # wineserver -k returns before the server has gone; wait for it, briefly.
  "$server" -w </dev/null >/dev/null 2>&1 &
  local waiter=$!
  for _ in $(seq 50); do
    kill -0 "$waiter" 2>/dev/null || break
    sleep 0.1
  done
  kill "$waiter" 2>/dev/null || true
  wait "$waiter" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir -p "$WINEPREFIX"
# Output to a file, not a pipe: the server lives on and would hold a pipe open.
if ! "$server" -p </dev/null >"$tmp/wineserver.out" 2>&1; then
  echo "with-wine: wineserver does not start: $(cat "$tmp/wineserver.out")" >&2
  # 32-bit Wine needs a kernel that runs 32-bit (i386) programs.
  if [ "$WINEARCH" = win32 ] && ! bash "$(dirname "$0")/runs-i386.sh"; then
    echo "with-wine: this machine's kernel does not run 32-bit (i386) programs, so the" \
         "Windows tests cannot run here" >&2
  fi
  exit 1
fi
if ! timeout 120 "$loader" wineboot -i </dev/null >"$tmp/wineboot.out" 2>&1; then
  echo "with-wine: wineboot -i failed in $WINEPREFIX:" >&2
  tail -5 "$tmp/wineboot.out" >&2
  exit 1
fi
if [ "${ETL_WINE_DISPLAY:-0}" = 1 ]; then
  "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
fi

set +e
"$@"
status=$?
set -e
exit "$status"
