#!/usr/bin/env bash
# Formats the C++ sources with clang-format; --check only reports files that would change.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c' 2>/dev/null || find . -name '*.cpp' -o -name '*.h')
((${#files[@]})) || exit 0
if [[ "${1:-}" == "--check" ]]; then
  clang-format --dry-run --Werror "${files[@]}"
  echo "format-check: ${#files[@]} files clean"
else
  clang-format -i "${files[@]}"
fi
