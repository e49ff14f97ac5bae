#!/usr/bin/env bash
# Tells how this machine can execute i386 programs, from a run of PROBE (rlib/test/i386_probe.c
# built with -m32):
#   i386-way.sh PROBE    prints "direct", "qemu" (user-mode emulation, Debian's qemu-user) or
#                        "none"; exits 0 for the first two and 1 for "none".
# Kernels without 32-bit support (IA32 emulation off, some containers and virtual machines)
# refuse i386 programs with "Exec format error". BRINDLE_PRETEND_NO_I386=1 makes the direct run
# count as refused, so the emulated way can be tried on a machine that has both.
set -uo pipefail
probe=$1
if [[ ${BRINDLE_PRETEND_NO_I386:-0} != 1 ]] && "$probe" 2>/dev/null; then
  echo direct
  exit 0
fi
if command -v qemu-i386 >/dev/null && qemu-i386 "$probe" 2>/dev/null; then
  echo qemu
  exit 0
fi
echo none
exit 1
