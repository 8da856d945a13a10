#!/usr/bin/env bash
# Exit status 0 when this machine runs 32-bit (i386) Linux programs, which
# 32-bit Wine needs. Some kernels refuse them ("Exec format error") although
# the i386 libraries are installed.
[ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
