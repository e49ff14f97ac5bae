#!/usr/bin/env bash
# Installs what the R package rlib/brindle needs to be built and tested:
#   - Debian's 64-bit R (r-base-core), testthat (r-cran-testthat), gcc/g++ multilib for -m32;
#   - the i386 architecture and the i386 runtime libraries that the 32-bit R executable loads;
#   - Debian's r-base-core:i386, fetched with `apt-get download` and unpacked with `dpkg-deb -x`
#     into .deps/r-i386 (git-ignored; nothing downloaded is committed). It cannot be installed
#     beside the 64-bit r-base-core, so it is only unpacked: its libR.so is linked against by
#     the i386 build and its R executable runs the 32-bit tests (rlib/test/r-i386.sh);
#   - Debian's qemu-user, only where the kernel cannot execute i386 programs: the 32-bit tests
#     then run the 32-bit R through qemu-i386.
# Checks first; calls apt-get only for what is missing, so it is quick when all is present.
# As non-root it prints the one command to run and exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/../.."

amd64_packages=(r-base-core r-cran-testthat gcc-multilib g++-multilib binutils)
# What the i386 R executable, libR.so and the shared objects of R's base packages load
# (objdump -p: libblas, liblapack, readline, pcre2, lzma, bz2, zlib, tirpc, icu, gomp).
i386_packages=(libc6 libblas3 liblapack3 libreadline8 libpcre2-8-0 liblzma5 libbz2-1.0 zlib1g
  libtirpc3 libicu72 libgomp1)
tree=.deps/r-i386
stamp=$tree/.unpacked

wanted=("${amd64_packages[@]}")
for p in "${i386_packages[@]}"; do wanted+=("$p:i386"); done

# One dpkg-query call for all of them; a package that is not installed prints nothing useful.
installed=$(dpkg-query -W -f='${Package}:${Architecture} ${Status}\n' "${wanted[@]}" 2>/dev/null |
  awk '$NF == "installed" && $(NF-1) == "ok" {print $1}' || true)
missing=()
for p in "${wanted[@]}"; do
  q=$p
  [[ $q == *:* ]] || q="$q:amd64"
  if ! grep -qxF "$q" <<<"$installed" && ! grep -qxF "${q%%:*}:all" <<<"$installed"; then
    missing+=("$p")
  fi
done
need_arch=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then need_arch=1; fi

if ((need_arch)) || ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    cmd="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
    ((need_arch)) && cmd="dpkg --add-architecture i386 && $cmd"
    what=${missing[*]}
    ((need_arch)) && what="the i386 architecture${what:+, $what}"
    echo "brindle: missing: $what" >&2
    echo "Run: sudo sh -c '$cmd'" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  if ((need_arch)); then
    echo "brindle: adding the i386 architecture"
    dpkg --add-architecture i386
  fi
  echo "brindle: installing ${missing[*]}"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The 32-bit R, unpacked (not installed) into .deps/r-i386.
if [[ ! -e $stamp ]]; then
  echo "brindle: fetching r-base-core:i386 into $tree"
  rm -rf "$tree" .deps/r-i386.tmp
  mkdir -p .deps/r-i386.tmp/deb
  fetch() { (cd .deps/r-i386.tmp/deb && apt-get download -qq r-base-core:i386 2>&1 |
    grep -v 'unsandboxed' || true); }
  fetch
  if ! ls .deps/r-i386.tmp/deb/r-base-core_*_i386.deb >/dev/null 2>&1; then
    # The package lists may predate the i386 architecture: refresh them once (root only).
    if [[ $(id -u) -ne 0 ]]; then
      echo "brindle: apt-get download r-base-core:i386 failed" >&2
      echo "Run: sudo apt-get update" >&2
      exit 1
    fi
    apt-get update -qq
    fetch
  fi
  deb=$(ls .deps/r-i386.tmp/deb/r-base-core_*_i386.deb)
  dpkg-deb -x "$deb" .deps/r-i386.tmp/root
  r=.deps/r-i386.tmp/root
  # R_HOME/etc holds absolute links into /etc/R (the 64-bit R's files): point them into the
  # unpacked tree, and make Renviron from the template that the package's postinst would use.
  cp "$r/usr/lib/R/etc/Renviron.ucf" "$r/etc/R/Renviron"
  for l in "$r"/usr/lib/R/etc/*; do
    if [[ -L $l ]]; then ln -sfn "../../../../etc/R/$(basename "$(readlink "$l")")" "$l"; fi
  done
  dpkg-deb -f "$deb" Version >"$r/.unpacked"
  mv "$r" "$tree"
  rm -rf .deps/r-i386.tmp
  echo "brindle: r-base-core:i386 $(cat "$stamp") unpacked in $tree"
fi

# Can this machine execute i386 programs? If its kernel refuses them, user-mode emulation runs
# the 32-bit R instead.
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
gcc -m32 -o "$probe_dir/probe" rlib/test/i386_probe.c
if ! bash rlib/test/i386-way.sh "$probe_dir/probe" >/dev/null; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "brindle: this kernel cannot execute i386 programs; the 32-bit tests need qemu-i386" >&2
    echo "Run: sudo apt-get install -y --no-install-recommends qemu-user" >&2
    exit 1
  fi
  echo "brindle: this kernel cannot execute i386 programs; installing qemu-user"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq --no-install-recommends qemu-user ||
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends qemu-user; }
  bash rlib/test/i386-way.sh "$probe_dir/probe" >/dev/null ||
    { echo "brindle: qemu-i386 cannot run the i386 probe either" >&2; exit 1; }
fi
