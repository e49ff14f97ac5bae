#!/usr/bin/env bash
# Installs what `rastertools import` and its tests need: libnetcdf and GDAL to read NetCDF and
# GeoTIFF, CLI11 for the command line; ncgen (netcdf-bin), cdo and gdal_translate (gdal-bin),
# which the tests use to write their input files.
# Checks first; calls apt-get only for what is missing. As non-root it prints the command.
set -euo pipefail

packages=(libnetcdf-dev netcdf-bin libgdal-dev gdal-bin libcli11-dev cdo)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
((${#missing[@]})) || exit 0
if [[ $(id -u) -ne 0 ]]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run: sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}"
