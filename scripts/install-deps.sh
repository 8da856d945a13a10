#!/usr/bin/env bash
# Installs what the builds and tests need on a Debian 12 machine.
# Does nothing when everything is already there; needs root and apt otherwise.
set -euo pipefail

# tshark: the dissector test decodes the simulator's captures with it (installed
# without the capture group: the tests only read files).
# zip, unzip: make dist packs the Windows package, and its test unpacks it.
# libasio-dev, libcli11-dev, nlohmann-json3-dev: the tools' header-only
# libraries (cmake/HeaderLibs.cmake).
need_native=(cmake ninja-build g++ googletest valgrind tshark zip unzip libasio-dev libcli11-dev
             nlohmann-json3-dev)
# 32-bit Windows is the target; the 64-bit Windows build runs the same tests
# under 64-bit Wine where the kernel refuses 32-bit programs.
need_windows=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine32:i386 wine64
              xvfb xauth imagemagick fonts-wine)
need_fuzz=(clang libclang-rt-14-dev)

missing=()
for p in "${need_native[@]}" "${need_windows[@]}" "${need_fuzz[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run as root on Debian 12 (apt) or install them by hand" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
