#!/usr/bin/env bash
# The release packages.
#
#   scripts/dist.sh            (make dist) builds and tests build/native and
#                              build/mingw (scripts/test-all.sh native mingw),
#                              packs both into dist/ and tests each package
#                              (tests/dist/package_test.sh)
#   scripts/dist.sh NATIVE_DIR MINGW_DIR
#                              the same with the presets native and mingw
#                              configured into these directories, each tested
#                              with its own ctest (the 32-bit one under Wine)
#   scripts/dist.sh pack linux|win32 BUILD_DIR OUT_DIR
#                              packs the binaries BUILD_DIR/bin holds, as
#                              built, and prints the package's path
#
# dist/ETLANdr-<version>-win32.zip: ETLANdr.dll, etlan.exe, etlan-sim.exe,
# the example station file zavUR01.int, README-Windows.txt, CHANGELOG.md and
# SHA256SUMS. The binaries are the build's own files, which the build has
# already stripped (their debug information is in <file>.debug beside them);
# the .debug files go into ETLANdr-<version>-win32-debug.zip beside the
# package, for support. The stand-in QANPRO.dll is not packed: the host
# brings its own.
#
# dist/ETLANdr-<version>-linux-x86_64.tar.gz: libETLANdr.so, libQANPRO.so
# (etlan needs the stand-in on Linux), etlan, etlan-sim, the same texts and
# SHA256SUMS; the binaries are stripped copies, their debug information goes
# into ETLANdr-<version>-linux-x86_64-debug.tar.gz.
#
# Environment: ETL_JOBS=N compile jobs; ETL_SKIP_DEPS=1.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

version() {
  sed -n 's/^project(ETLANdr VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt"
}

# pack_common DIR: the texts both packages hold.
pack_common() {
  cp "$root/CHANGELOG.md" "$1/"
  cp "$root/examples/zavUR01.int" "$1/"
}

# checksums DIR: SHA256SUMS over every file of DIR.
checksums() {
  (cd "$1" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
     xargs -d '\n' sha256sum > SHA256SUMS)
}

pack_win32() {
  local build=$1 out=$2 name stage f
  name="ETLANdr-$(version)-win32"
  stage=$(mktemp -d "${TMPDIR:-/tmp}/etl-dist.XXXXXX")
  mkdir -p "$stage/$name" "$stage/debug"
  for f in ETLANdr.dll etlan.exe etlan-sim.exe; do
    [ -f "$build/bin/$f" ] || { echo "dist: $build/bin/$f is missing" >&2; rm -rf "$stage"; return 1; }
    [ -f "$build/bin/$f.debug" ] || { echo "dist: $build/bin/$f.debug is missing" >&2; rm -rf "$stage"; return 1; }
    cp "$build/bin/$f" "$stage/$name/"
    cp "$build/bin/$f.debug" "$stage/debug/"
  done
  pack_common "$stage/$name"
  # Windows line ends for the texts a Windows user opens.
  sed 's/$/\r/' "$root/packaging/README-Windows.txt" > "$stage/$name/README-Windows.txt"
  checksums "$stage/$name"
  mkdir -p "$out"
  rm -f "$out/$name.zip" "$out/$name-debug.zip"
  (cd "$stage" && zip -q -X -r "$out/$name.zip" "$name")
  (cd "$stage/debug" && zip -q -X "$out/$name-debug.zip" ./*.debug)
  rm -rf "$stage"
  echo "$out/$name.zip"
}

pack_linux() {
  local build=$1 out=$2 name stage f
  name="ETLANdr-$(version)-linux-x86_64"
  stage=$(mktemp -d "${TMPDIR:-/tmp}/etl-dist.XXXXXX")
  mkdir -p "$stage/$name" "$stage/debug"
  for f in libETLANdr.so libQANPRO.so etlan etlan-sim; do
    [ -f "$build/bin/$f" ] || { echo "dist: $build/bin/$f is missing" >&2; rm -rf "$stage"; return 1; }
    objcopy --only-keep-debug "$build/bin/$f" "$stage/debug/$f.debug"
    cp "$build/bin/$f" "$stage/$name/$f"
    strip --strip-unneeded "$stage/$name/$f"
    (cd "$stage/debug" && objcopy --add-gnu-debuglink="$f.debug" "$stage/$name/$f")
  done
  pack_common "$stage/$name"
  cp "$root/packaging/README-Linux.txt" "$stage/$name/"
  checksums "$stage/$name"
  mkdir -p "$out"
  tar -C "$stage" --owner=0 --group=0 --numeric-owner -czf "$out/$name.tar.gz" "$name"
  tar -C "$stage/debug" --owner=0 --group=0 --numeric-owner -czf "$out/$name-debug.tar.gz" .
  rm -rf "$stage"
  echo "$out/$name.tar.gz"
}

if [ "${1:-}" = pack ]; then
  [ $# -eq 4 ] || { echo "usage: dist.sh pack linux|win32 BUILD_DIR OUT_DIR" >&2; exit 2; }
  build=$(cd "$3" && pwd) out=$(mkdir -p "$4" && cd "$4" && pwd)
  case $2 in
    linux) pack_linux "$build" "$out" ;;
    win32) pack_win32 "$build" "$out" ;;
    *) echo "dist.sh: unknown package '$2' (linux, win32)" >&2; exit 2 ;;
  esac
  exit 0
fi
if [ $# -eq 0 ]; then
  native=build/native mingw=build/mingw
  # Build and test. Where the kernel runs no i386 programs the 32-bit tests
  # run as the 64-bit Windows build (see scripts/test-all.sh).
  stages=(native mingw)
  bash scripts/runs-i386.sh || stages+=(win64)
  bash scripts/test-all.sh "${stages[@]}" || { echo "dist: the tests failed; nothing was packed" >&2; exit 1; }
elif [ $# -eq 2 ]; then
  native=$1 mingw=$2 jobs=${ETL_JOBS:-$(nproc 2>/dev/null || echo 2)}
  export ETL_WINE_DISPLAY=${ETL_WINE_DISPLAY:-1}  # as scripts/test-all.sh: the dialog test too
  [ "${ETL_SKIP_DEPS:-0}" = 1 ] || bash scripts/install-deps.sh </dev/null
  runner=()
  bash scripts/runs-i386.sh && runner=(bash scripts/with-wine.sh)
  { cmake --preset native -B "$native" && cmake --build "$native" -j "$jobs" &&
    ctest --test-dir "$native" -j 2 -E '^EtlanDemo\.' --timeout 120 --output-on-failure &&
    cmake --preset mingw -B "$mingw" && cmake --build "$mingw" -j "$jobs" &&
    if [ ${#runner[@]} -gt 0 ]; then
      "${runner[@]}" ctest --test-dir "$mingw" -E '^EtlanDemo\.' --timeout 300 --output-on-failure
    else
      echo "dist: the 32-bit tests not run: this kernel does not run i386 programs" >&2
      ctest --test-dir "$mingw" -L '^binaries$' --output-on-failure
    fi; } </dev/null || { echo "dist: the tests failed; nothing was packed" >&2; exit 1; }
else
  echo "usage: dist.sh [NATIVE_DIR MINGW_DIR] | dist.sh pack linux|win32 BUILD_DIR OUT_DIR" >&2
  exit 2
fi

mkdir -p dist
win=$(pack_win32 "$mingw" "$root/dist")
linux=$(pack_linux "$native" "$root/dist")

echo
echo "==== dist: the packages, unpacked and run"
status=0
bash tests/dist/package_test.sh "$linux" || status=1
if bash scripts/runs-i386.sh; then
  ETL_WINE_DISPLAY=0 bash scripts/with-wine.sh bash tests/dist/package_test.sh "$win" "$mingw/bin/QANPRO.dll" || status=1
else
  echo "dist: $win not run: this kernel does not run i386 programs (32-bit Wine)" >&2
fi
echo
ls -l dist/
[ "$status" -eq 0 ] || { echo "dist: a package test failed" >&2; exit 1; }
