#!/usr/bin/env bash
# Installs what the ensemble workflow (workflow/) and its checks need: Snakemake and jsonschema
# (the configuration's schema), matplotlib (the summary plot), ncdump and ImageMagick (comparing
# results), and Slurm with munge for the one-node cluster of `make check-cluster`.
# Checks first; calls apt-get only for what is missing. As non-root it prints the command.
set -euo pipefail

packages=(snakemake python3-jsonschema python3-yaml python3-matplotlib netcdf-bin imagemagick
  slurm-wlm munge)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
((${#missing[@]})) || exit 0
if [[ $(id -u) -ne 0 ]]; then
  echo "workflow: missing packages: ${missing[*]}" >&2
  echo "Run: sudo apt-get update && sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi
echo "workflow: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
