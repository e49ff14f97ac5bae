#!/usr/bin/env bash
# Checks the two builds of the brindle library with objdump and nm:
#   check_elf.sh X86_64_LIB I386_LIB
# both export brindle and call nothing (no undefined symbol but the weak ones of the C runtime);
# the i386 one is a 32-bit i386 object that records libR.so as NEEDED.
set -euo pipefail
lib64=$1
lib32=$2
fail=0
check() {
  if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi
}
for lib in "$lib64" "$lib32"; do
  check "$lib exports brindle" "nm -D --defined-only '$lib' | grep -qE ' T brindle$'"
  undefined=$(nm -D --undefined-only "$lib" | awk '$1 != "w" {print $NF}' | tr '\n' ' ')
  check "$lib calls nothing (undefined: ${undefined:-none})" "[[ -z '$undefined' ]]"
done
check "$lib64 is elf64-x86-64" "objdump -p '$lib64' | grep -q 'file format elf64-x86-64'"
check "$lib32 is elf32-i386" "objdump -p '$lib32' | grep -q 'file format elf32-i386'"
check "$lib32 has NEEDED libR.so" "objdump -p '$lib32' | grep -qE 'NEEDED +libR[.]so$'"
objdump -p "$lib32" | grep NEEDED
if ((fail)); then echo "0 passed, 1 failed"; exit 1; fi
echo "1 passed, 0 failed"
