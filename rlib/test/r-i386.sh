#!/usr/bin/env bash
# Runs the 32-bit R of Debian's r-base-core:i386, unpacked (not installed) by
# scripts/install-deps.d/brindle.sh, with the i386 runtime libraries installed through apt.
#   rlib/crossarch/r-i386.sh ROOT [R arguments...]     (ROOT: the unpacked tree, .deps/r-i386)
# Runs bin/exec/R directly: the front-end script bin/R has /usr/lib/R written into it.
set -euo pipefail
root=$(cd "$1" && pwd)
shift
export R_HOME=$root/usr/lib/R
export R_SHARE_DIR=$root/usr/share/R/share
export R_INCLUDE_DIR=$root/usr/share/R/include
export R_DOC_DIR=$root/usr/share/R/doc
export LD_LIBRARY_PATH=$R_HOME/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
# Only the 32-bit library tree: never the 64-bit packages of the machine.
export R_LIBS_SITE=$R_HOME/site-library
export R_LIBS_USER=$R_HOME/site-library
unset R_LIBS R_PROFILE R_PROFILE_USER R_ENVIRON R_ENVIRON_USER
exec "$R_HOME/bin/exec/R" --no-save --no-restore --no-site-file --no-init-file --no-environ "$@"
