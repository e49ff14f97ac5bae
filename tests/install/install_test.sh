#!/usr/bin/env bash
# make install into a staging DESTDIR, then the front command and make uninstall:
#   install_test.sh BUILD_DIR [PYTHON]
# Checks the installed files (and nothing else), that `rastertools TOOL` behaves exactly as the
# tool run under its own name, the front command's own answers, the Python package (with
# PYTHON, an interpreter with its dependencies) importing and running the installed tools, a
# moved installation, and that uninstall removes the suite's files only.
set -uo pipefail
build=$(cd "$1" && pwd)
python=${2:-}
src=$(cd "$(dirname "$0")/../.." && pwd)
pydir=usr/lib/python3/dist-packages
tools=(corvane fennick sum mult div add scale limits logistic slivet mean)
# The programs with named options, as command:program (`rastertools command` runs program).
named=(info:rastertools-info export:rastertools-export import:rastertools-import map:rastertools-map
  yearly:rastertools-yearly fldstat:rastertools-fldstat change:rastertools-change
  climatology:rastertools-climatology dissimilarity:rastertools-dissimilarity calc:rastertools-calc)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
passed=0 failed=0
ok() { passed=$((passed + 1)); }
bad() { echo "FAIL: $*"; failed=$((failed + 1)); }
check() { if eval "$2"; then ok; else bad "$1"; fi; }

# Runs a command, keeping its status, stdout and stderr in $st, $out, $err.
capture() {
  "$@" >"$stage/out" 2>"$stage/err"
  st=$?
  out=$(cat "$stage/out")
  err=$(cat "$stage/err")
}

DESTDIR="$stage/dest" cmake --install "$build" --prefix /usr >"$stage/install.log" 2>&1 ||
  { cat "$stage/install.log"; bad "cmake --install failed"; }

# The manual pages: one per tool, written by hand; one for the front command and each named
# program, made by help2man where it is installed.
mandir=usr/share/man/man1
pages=()
for t in "${tools[@]}"; do pages+=("rastertools-$t"); done
if command -v help2man >/dev/null; then
  pages+=(rastertools)
  for n in "${named[@]}"; do pages+=("${n#*:}"); done
else
  echo "no help2man: the manual pages of the front command and the named tools are not checked"
fi

# Exactly the front command, the tools, their manual pages and the Python package with its
# metadata, nothing of tests, benchmarks or the R package.
version=$("$build/bin/rastertools" --version | cut -d' ' -f2)
programs=$( (
  echo usr/bin/rastertools
  for t in "${tools[@]}"; do echo "usr/libexec/rastertools/$t"; done
  for n in "${named[@]}"; do echo "usr/libexec/rastertools/${n#*:}"; done
) | sort)
expected=$( (
  echo "$programs"
  for p in "${pages[@]}"; do echo "$mandir/$p.1"; done
  for f in "$src"/python/rastertools/*.py; do echo "$pydir/rastertools/${f##*/}"; done
  for f in METADATA entry_points.txt top_level.txt; do
    echo "$pydir/rastertools-$version.dist-info/$f"
  done
) | sort)
got=$(cd "$stage/dest" && find . \( -type f -o -type l \) | sed 's#^\./##' | sort)
check "installed files: got [$got]" '[[ $got == "$expected" ]]'
for f in $programs; do check "$f is executable" '[[ -x $stage/dest/$f ]]'; done
check "installed metadata names version $version" \
  'grep -qx "Version: $version" "$stage/dest/$pydir/rastertools-$version.dist-info/METADATA"'

# Every page renders, by name from the installed manual folder and as a file (man -l): its
# NAME line names it, and it has a synopsis and a description.
if command -v man >/dev/null; then
  for p in "${pages[@]}"; do
    capture env LC_ALL=C.UTF-8 MANWIDTH=100 MANPATH="$stage/dest/usr/share/man" man "$p"
    check "man $p: status $st, [$err]" '[[ $st == 0 && -z $err ]]'
    check "man $p: NAME names it, SYNOPSIS, DESCRIPTION: [${out:0:300}]" \
      '[[ $out == *$'"'"'\nNAME\n'"'"'*"$p"*$'"'"'\nSYNOPSIS\n'"'"'*$'"'"'\nDESCRIPTION\n'"'"'* ]]'
    capture env LC_ALL=C.UTF-8 MANWIDTH=100 man -l "$stage/dest/$mandir/$p.1"
    check "man -l $p.1: status $st, [$err]" '[[ $st == 0 && -z $err && $out == *"$p"* ]]'
  done
  capture env LC_ALL=C.UTF-8 MANWIDTH=100 MANPATH="$stage/dest/usr/share/man" man rastertools-info
  [[ " ${pages[*]} " != *" rastertools-info "* ]] ||
    check "man rastertools-info shows its options and version: [${out:0:300}]" \
      '[[ $out == *"--grid"* && $out == *"rastertools $version"* ]]'
else
  bad "man is not installed (scripts/install-deps.sh test installs man-db): the manual pages are not checked"
fi

# The installed Python package: the xarray backend registered, the front command of this
# installation found and run (add 0.5 to 1.0f and 2.0f).
pycheck() {
  [[ -n $python ]] || return 0
  local root=$1
  printf '\0\0\200\77\0\0\0\100' >"$stage/py.bin"
  capture env -u RASTERTOOLS_BINDIR PYTHONPATH="$root/$pydir" "$python" -c '
import sys, numpy as np, xarray as xr, rastertools as rt
assert rt.__file__.startswith(sys.argv[1]), rt.__file__
assert "rastertools" in xr.backends.list_engines()
print(rt.tools.front_command())
rt.tools.add(sys.argv[2], sys.argv[3], 0.5, 2)
print(np.fromfile(sys.argv[3], "<f4").tolist())' "$root" "$stage/py.bin" "$stage/py_out.bin"
  check "python package in $root: status $st, [$err]" '[[ $st == 0 ]]'
  check "python package runs $root/usr/bin/rastertools: [$out]" \
    '[[ $out == "$root/usr/bin/rastertools"$'"'"'\n'"'"'"[1.5, 2.5]" ]]'
}
[[ -n $python ]] || echo "no python interpreter given: the Python package is not checked"
pycheck "$stage/dest"

front=$stage/dest/usr/bin/rastertools
# Every tool through the front command: the same status, stdout and stderr as the tool started
# under its own bare name (its usage text names it).
for t in "${tools[@]}"; do
  capture "$front" "$t"
  want_st=$st want_out=$out want_err=$err
  capture bash -c 'exec -a "$0" "$1"' "$t" "$build/bin/$t"
  check "$t: status $want_st through the front, $st direct" '[[ $want_st == "$st" && $st != 0 ]]'
  check "$t: same output through the front" '[[ $want_out == "$out" && $want_err == "$err" ]]'
  check "$t: usage names the tool" '[[ $err == *"$t "* ]]'
done

# The named-option tools through the front command: the same answers as the program run directly.
for n in "${named[@]}"; do
  c=${n%%:*} p=${n#*:}
  capture "$front" "$c"
  want_st=$st want_out=$out want_err=$err
  capture bash -c 'exec -a "$0" "$1"' "$p" "$build/bin/$p"
  check "$c: status $want_st through the front, $st direct" '[[ $want_st == "$st" && $st == 2 ]]'
  check "$c: same output through the front" '[[ $want_out == "$out" && $want_err == "$err" ]]'
  check "$c: message names $p" '[[ $err == "$p: error: "* ]]'
  capture "$front" "$c" --version
  check "$c --version: [$out]" '[[ $st == 0 && $out =~ ^rastertools\ [0-9]+\.[0-9]+\.[0-9]+$ ]]'
done

# Arguments pass exactly, spaces included: a real run of add through the front command.
printf '\0\0\200\77\0\0\0\100' >"$stage/in put.bin"  # 1.0f, 2.0f
capture "$front" add "$stage/in put.bin" "$stage/out put.bin" 0.5 2
check "add through the front: status $st, stderr [$err]" '[[ $st == 0 ]]'
check "add through the front: output bytes" \
  '[[ $(od -An -tx1 "$stage/out put.bin" | tr -d " \n") == 0000c03f00002040 ]]'

# The front command's own answers.
for a in "" --help -h; do
  capture "$front" $a
  check "rastertools $a: status $st" '[[ $st == 0 && -z $err ]]'
  for t in "${tools[@]}"; do check "rastertools $a lists $t" '[[ $out == *$'"'"'\n'"'"'"  $t "* ]]'; done
  for cp in "${named[@]}"; do
    c=${cp%%:*}
    check "rastertools $a lists $c" '[[ $out == *$'"'"'\n'"'"'"  $c "* ]]'
  done
  check "rastertools $a names the tools folder" '[[ $out == *"$stage/dest/usr/libexec/rastertools"* ]]'
done
capture "$front" --version
check "--version: [$out]" '[[ $st == 0 && $out =~ ^rastertools\ [0-9]+\.[0-9]+\.[0-9]+$ ]]'
capture "$front" nosuchtool a b
check "unknown tool: status $st, [$err]" \
  '[[ $st == 2 && -z $out && $err == "rastertools: unknown tool '"'"'nosuchtool'"'"' (run '"'"'rastertools --help'"'"' for the list)" ]]'
capture "$front" --bogus
check "unknown option: status $st" '[[ $st == 2 && $err == *"--bogus"* ]]'
# A tool name never reaches past the tools folder.
capture "$front" ../../bin/rastertools
check "path as tool name refused: status $st" '[[ $st == 2 ]]'

# A moved installation still finds its tools; a missing tool is reported with its path.
mv "$stage/dest" "$stage/moved"
front=$stage/moved/usr/bin/rastertools
capture "$front" mean
check "moved installation runs mean: status $st" '[[ $st == 255 && $err == *"mean "* ]]'
pycheck "$stage/moved"
rm "$stage/moved/usr/libexec/rastertools/slivet"
capture "$front" slivet
check "missing tool: status $st, [$err]" \
  '[[ $st == 127 && $err == "rastertools: cannot run $stage/moved/usr/libexec/rastertools/slivet: No such file or directory" ]]'
mv "$stage/moved" "$stage/dest"

# Uninstall removes the suite's files and keeps anything else in the tools folder.
touch "$stage/dest/usr/libexec/rastertools/local-script"
cmake -DPREFIX=/usr -DDESTDIR="$stage/dest" -P "$build/uninstall.cmake" >"$stage/uninstall.log" 2>&1 ||
  { cat "$stage/uninstall.log"; bad "uninstall failed"; }
left=$(cd "$stage/dest" && find . -type f | sed 's#^\./##')
check "uninstall leaves only the foreign file: [$left]" '[[ $left == usr/libexec/rastertools/local-script ]]'
check "uninstall removes the Python package's folders" \
  '[[ ! -e $stage/dest/$pydir/rastertools && ! -e $stage/dest/$pydir/rastertools-$version.dist-info ]]'
rm "$stage/dest/usr/libexec/rastertools/local-script"
cmake -DPREFIX=/usr -DDESTDIR="$stage/dest" -P "$build/uninstall.cmake" >/dev/null 2>&1
check "uninstall removes the emptied tools folder" '[[ ! -e $stage/dest/usr/libexec/rastertools ]]'

echo "$passed passed, $failed failed"
((failed == 0))
