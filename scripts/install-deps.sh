#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the demo and the benchmarks need.
# Checks first; calls apt-get only for what is missing. As non-root it prints the command.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  g++ cmake make
  libgtest-dev
  libmpfr-dev
  clang-format
  time
  # NetCDF and GeoTIFF (info, export, import): libraries, command-line option parser, and the
  # peers the tests read the outputs with (ncdump, gdalinfo, cdo, R terra).
  libnetcdf-dev netcdf-bin libgdal-dev gdal-bin cdo libcli11-dev r-cran-terra
  libhdf5-dev libdeflate-dev  # NetCDF-4 chunks located through HDF5, inflated with libdeflate
  libcairo2-dev pkg-config fonts-dejavu-core libpng-dev  # rastertools map: drawing, font; PNG in its tests
  # The Python package (python/): xarray with dask and NetCDF for Debian's python3, and pytest.
  python3-numpy python3-xarray python3-dask python3-netcdf4 python3-cftime python3-pytest
  # The ensemble workflow (workflow/): Snakemake and jsonschema (the configuration's schema),
  # matplotlib (the summary plot), ImageMagick (comparing maps), and Slurm with munge for the
  # one-node cluster of `make check-cluster`; it reads the inputs' years with python3-netcdf4
  # and python3-cftime (above).
  snakemake python3-jsonschema python3-yaml python3-matplotlib imagemagick slurm-wlm munge
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Run: sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi

# Extra steps of optional parts (for example the R package's toolchains) live beside this file.
for extra in scripts/install-deps.d/*.sh; do
  [[ -e "$extra" ]] || continue
  bash "$extra"
done
