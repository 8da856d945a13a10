#!/usr/bin/env bash
# Runs the "Tag Format" dialog test of a Windows build on Wine's real
# dialog manager, on a virtual X display, and saves a screenshot of the open
# dialog as a PNG.
#
#   scripts/dialog-gui-test.sh [BUILD_DIR [PNG]]
#
# BUILD_DIR is a Windows build (mingw, or the 64-bit win64) with
# dialog_gui_test.exe built (default build/mingw); PNG defaults to BUILD_DIR/artifacts/tag-format-dialog.png.
# Wine runs through scripts/with-wine.sh with ETL_WINE_DISPLAY=1: a private
# prefix in a temporary directory, removed afterwards, inside one xvfb-run
# with a 24-bit 1024x768 screen; Wine draws its own window frames (X11 Driver
# "Managed" = N), so no window manager is needed.
# The exit status is the test's (2 when something needed is missing).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/mingw}" 2>/dev/null && pwd) || {
  echo "dialog-gui-test: no build directory ${1:-$root/build/mingw}" >&2
  exit 2
}
png=${2:-$build/artifacts/tag-format-dialog.png}
exe=$build/bin/dialog_gui_test.exe

if [ ! -f "$exe" ]; then
  echo "dialog-gui-test: $exe is not built (cmake --build $build --target dialog_gui_test)" >&2
  exit 2
fi
for tool in xvfb-run; do
  command -v "$tool" >/dev/null || {
    echo "dialog-gui-test: $tool is missing (scripts/install-deps.sh)" >&2
    exit 2
  }
done

# Wine, its private prefix and the virtual display come from with-wine.sh;
# this script runs once more inside them.
if [ -z "${ETL_DIALOG_IN_WINE:-}" ]; then
  export ETL_DIALOG_IN_WINE=1
  if grep -q '^CMAKE_TOOLCHAIN_FILE:.*x86_64' "$build/CMakeCache.txt" 2>/dev/null; then
    export ETL_WINE_ARCH=win64
  fi
  ETL_WINE_DISPLAY=1 exec bash "$root/scripts/with-wine.sh" bash "$0" "$build" "$png"
fi

# The screenshot is written inside the prefix, which with-wine.sh removes.
bmp="$WINEPREFIX/drive_c/tag-format-dialog.bmp"
set +e
ETL_DIALOG_SCREENSHOT="$("$ETL_WINE" winepath -w "$bmp" 2>/dev/null)" \
  timeout 300 "$ETL_WINE" "$exe" --gtest_color=no </dev/null
status=$?
set -e

if [ -s "$bmp" ]; then
  mkdir -p "$(dirname "$png")"
  if [ -x /usr/bin/convert ]; then
    /usr/bin/convert "$bmp" "$png"
  else
    png="${png%.png}.bmp"
    cp "$bmp" "$png"
  fi
  echo "dialog-gui-test: screenshot $png"
elif [ "$status" -eq 0 ]; then
  echo "dialog-gui-test: the test passed but saved no screenshot" >&2
  status=1
fi
exit "$status"
