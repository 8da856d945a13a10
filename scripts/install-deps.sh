#!/usr/bin/env bash
# Installs what is missing on a Debian 12 machine:
#   install-deps.sh demo     what make demo needs: the compiler, CMake, Ninja
#                            and the tools' header-only libraries
#   install-deps.sh [test]   all that every build and test needs (make test)
# Does nothing when everything is already there; needs root and apt otherwise.
set -euo pipefail

# libasio-dev, libcli11-dev: the tools' header-only libraries
# (cmake/HeaderLibs.cmake).
need_demo=(cmake ninja-build g++ libasio-dev libcli11-dev)
# tshark: the dissector test decodes the simulator's captures with it (installed
# without the capture group: the tests only read files).
# zip, unzip: make dist packs the Windows package, and its test unpacks it.
need_native=(googletest valgrind tshark zip unzip)
# 32-bit Windows is the target; the 64-bit Windows build runs the same tests
# under 64-bit Wine where the kernel refuses 32-bit programs.
need_windows=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine32:i386 wine64
              xvfb xauth imagemagick fonts-wine)
need_fuzz=(clang libclang-rt-14-dev)

case ${1:-test} in
  demo) need=("${need_demo[@]}") ;;
  test) need=("${need_demo[@]}" "${need_native[@]}" "${need_windows[@]}" "${need_fuzz[@]}") ;;
  *) echo "install-deps: usage: install-deps.sh [demo|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${need[@]}"; do
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
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
