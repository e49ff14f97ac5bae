#!/usr/bin/env bash
# R CMD build and R CMD check of the package (the 64-bit R), in WORKDIR:
#   r_check.sh PKGDIR WORKDIR
# Fails on any WARNING or ERROR; NOTEs are shown.
set -euo pipefail
pkg=$(cd "$1" && pwd)
mkdir -p "$2"
cd "$2"
rm -rf brindle.Rcheck brindle_*.tar.gz
R CMD build --no-manual --no-build-vignettes "$pkg"
R CMD check --no-manual brindle_*.tar.gz | tee check.log
if grep -qE '^Status: .*(WARNING|ERROR)' check.log || ! grep -q '^Status: ' check.log; then
  echo "0 passed, 1 failed"
  exit 1
fi
echo "1 passed, 0 failed"
