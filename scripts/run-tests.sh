#!/usr/bin/env bash
# Runs the CTest tests of a build folder, JOBS at a time, quietly (make test, make asan-test):
#   scripts/run-tests.sh BUILD_DIR JOBS [CTEST OPTIONS...]
# The whole output goes to BUILD_DIR/ctest.log. The terminal gets the summary and, when tests
# fail, the output of each failed test and their list; the status is ctest's.
set -uo pipefail
dir=$1
jobs=$2
shift 2
log=$dir/ctest.log
echo "Testing $dir, $jobs at a time (the whole output in $log)"
ctest --test-dir "$dir" -j "$jobs" --output-on-failure "$@" >"$log" 2>&1
status=$?
if ((status != 0)); then
  # A failed test's block: from its result line to the next test's start or result line.
  awk '/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / { show = !/ Passed / }
       /^ *Start +[0-9]+: / { show = 0 }
       /^The following tests FAILED/ { show = 1 }
       show' "$log"
fi
grep -E '^[0-9]+% tests passed|^Total Test time' "$log"
exit "$status"
