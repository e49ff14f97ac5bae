#!/usr/bin/env bash
# R CMD build and R CMD check of the package (the 64-bit R), in WORKDIR:
#   r_check.sh PKGDIR WORKDIR
# Fails on any WARNING or ERROR; NOTEs are shown. The package's tests and the examples of its
# help pages run as tests of their own (run_testthat.R, run_examples.R), so the check does not
# run them again.
set -euo pipefail
# The package is declared UTF-8. Under a locale whose charset is not (LANG unset, LANG=C, no
# locales configured), R switches to en_US.UTF-8 for the syntax check, which a bare system lacks,
# and warns. C.UTF-8 is built into the C library: the check runs the same, in a UTF-8 session.
if [[ $(locale charmap 2>/dev/null) != UTF-8 ]]; then
  export LC_ALL=C.UTF-8
fi
pkg=$(cd "$1" && pwd)
mkdir -p "$2"
cd "$2"
rm -rf brindle.Rcheck brindle_*.tar.gz
R CMD build --no-manual --no-build-vignettes "$pkg"
R CMD check --no-manual --no-tests --no-examples brindle_*.tar.gz | tee check.log
if grep -qE '^Status: .*(WARNING|ERROR)' check.log || ! grep -q '^Status: ' check.log; then
  echo "0 passed, 1 failed"
  exit 1
fi
echo "1 passed, 0 failed"
