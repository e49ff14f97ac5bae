#!/usr/bin/env bash
# Runs the 32-bit R of Debian's r-base-core:i386, unpacked (not installed) by
# scripts/install-deps.d/brindle.sh, with the i386 runtime libraries installed through apt.
#   rlib/test/r-i386.sh ROOT PROBE [R arguments...]
# ROOT: the unpacked tree (.deps/r-i386); PROBE: the built i386 probe (see i386-way.sh).
# Directly where the kernel executes i386 programs, otherwise through qemu-i386; says which.
# Runs bin/exec/R directly: the front-end script bin/R has /usr/lib/R written into it.
set -euo pipefail
root=$(cd "$1" && pwd)
probe=$2
shift 2
here=$(dirname "$0")
if ! way=$(bash "$here/i386-way.sh" "$probe"); then
  echo "brindle: this machine cannot execute i386 programs (its kernel refuses them) and" \
    "qemu-i386 is not installed: install Debian's qemu-user (scripts/install-deps.sh does so" \
    "as root), then run the tests again" >&2
  exit 1
fi
case $way in
  direct) echo "brindle: running the 32-bit R directly (this kernel executes i386 programs)" ;;
  qemu) echo "brindle: running the 32-bit R through qemu-i386 (user-mode emulation; this" \
    "kernel does not execute i386 programs)" ;;
esac
export R_HOME=$root/usr/lib/R
export R_SHARE_DIR=$root/usr/share/R/share
export R_INCLUDE_DIR=$root/usr/share/R/include
export R_DOC_DIR=$root/usr/share/R/doc
# Only the 32-bit library tree: never the 64-bit packages of the machine.
export R_LIBS_SITE=$R_HOME/site-library
export R_LIBS_USER=$R_HOME/site-library
unset R_LIBS R_PROFILE R_PROFILE_USER R_ENVIRON R_ENVIRON_USER
libpath=$R_HOME/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
r=("$R_HOME/bin/exec/R" --no-save --no-restore --no-site-file --no-init-file --no-environ "$@")
if [[ $way == qemu ]]; then
  # The library path is the emulated program's alone, not the emulator's.
  exec qemu-i386 -E "LD_LIBRARY_PATH=$libpath" "${r[@]}"
fi
export LD_LIBRARY_PATH=$libpath
exec "${r[@]}"
