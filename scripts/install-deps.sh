#!/usr/bin/env bash
# Installs the Debian 12 packages one use of the project needs, and nothing more:
#   scripts/install-deps.sh [TIER]      TIER: build (default), bench, test or cluster
#     build    compile and run the suite's programs and the demo (make, make install, make demo)
#     bench    build, and GNU time for the benchmarks (make bench)
#     test     build, and what the tests build with or compare against (make check): GoogleTest,
#              clang-format, the peers (CDO, GDAL's and netCDF's programs, R with terra), R's
#              testthat, Snakemake for the workflow, Python for python/; then the steps of
#              install-deps.d/ (the 32-bit R of the R package's tests)
#     cluster  test, and Slurm, munge and ImageMagick for the one-node cluster (make check-cluster)
#   --list     prints the tier's packages and exits
# Every tier includes the ones above it. Packages come without their recommendations. Checks
# first and calls apt-get only for what is missing; as non-root it prints the command to run.
set -euo pipefail
cd "$(dirname "$0")/.."

# The lists, one per tier.
build=(
  g++ make cmake ninja-build pkg-config
  libmpfr-dev     # correctly rounded cosines and sines of the grid geometry
  libcli11-dev    # the named tools' command lines
  libnetcdf-dev libgdal-dev   # info, export, import
  libhdf5-dev libdeflate-dev  # NetCDF-4 chunks located through HDF5, inflated on the threads
  libcairo2-dev libpng-dev fonts-dejavu-core   # rastertools map: drawing, PNG, the font
)
bench=(time)
test=(
  libgtest-dev clang-format time
  netcdf-bin gdal-bin cdo r-base-core r-cran-terra r-cran-testthat   # the peers of the tests
  # The ensemble workflow (workflow/): Snakemake, the configuration's schema, the summary plot.
  snakemake python3-jsonschema python3-yaml python3-matplotlib
  # The Python package (python/) and its tests.
  python3-numpy python3-xarray python3-dask python3-netcdf4 python3-cftime python3-pytest
)
cluster=(slurm-wlm munge imagemagick)

usage() {
  echo "use: scripts/install-deps.sh [build|bench|test|cluster] [--list]" >&2
  exit 2
}
tier=build
list=0
for a in "$@"; do
  case $a in
    build | bench | test | cluster) tier=$a ;;
    --list) list=1 ;;
    *) usage ;;
  esac
done

packages=("${build[@]}")
case $tier in
  bench) packages+=("${bench[@]}") ;;
  test) packages+=("${test[@]}") ;;
  cluster) packages+=("${test[@]}" "${cluster[@]}") ;;
esac
if ((list)); then
  printf '%s\n' "${packages[@]}" | sort -u
  exit 0
fi

# One dpkg-query for all of them; what is not installed prints nothing or another status.
installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null |
  awk '$NF == "installed" && $(NF-1) == "ok" {print $1}' || true)
missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
  grep -qxF "$p" <<<"$installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "Missing packages ($tier): ${missing[*]}" >&2
    echo "Run: sudo sh -c 'apt-get update && apt-get install -y --no-install-recommends ${missing[*]}'" >&2
    exit 1
  fi
  echo "Installing the packages of the $tier tier from Debian: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Extra steps of the test tier (for example the R package's 32-bit R) live beside this file.
if [[ $tier == test || $tier == cluster ]]; then
  for extra in scripts/install-deps.d/*.sh; do
    [[ -e "$extra" ]] || continue
    bash "$extra"
  done
fi
