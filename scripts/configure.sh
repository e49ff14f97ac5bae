#!/usr/bin/env bash
# Configures a build folder once (the Makefile's builds):
#   scripts/configure.sh FOLDER CMAKE COMMAND LINE...
# Runs the CMake command when the folder has no build files yet or was configured with another
# command line; otherwise does nothing (the build tool re-runs CMake where its inputs changed).
# A folder configured for another build tool (an older Makefile build) is configured afresh.
set -euo pipefail
dir=$1
shift
stamp=$dir/.configured-with
want=$(printf '%q ' "$@")
if [[ -f $dir/build.ninja && -f $stamp && $(<"$stamp") == "$want" ]]; then
  exit 0
fi
if [[ -f $dir/CMakeCache.txt ]] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$dir/CMakeCache.txt"; then
  echo "$dir: configured for another build tool; configuring it afresh"
  rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
fi
echo "Configuring $dir"
mkdir -p "$dir"
rm -f "$stamp"
"$@" >"$dir/configure.log" 2>&1 || {
  cat "$dir/configure.log" >&2
  exit 1
}
echo "$want" >"$stamp"
