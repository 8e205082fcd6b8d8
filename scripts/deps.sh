#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Usage: scripts/deps.sh [extra-package ...]
set -euo pipefail
need=(cmake g++ make libgtest-dev libbenchmark-dev liblapack-dev libblas-dev zlib1g-dev libcli11-dev libfast-float-dev librsvg2-bin clang libclang-rt-14-dev "$@")
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "missing packages: ${missing[*]} (install them, or run this script as root)" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q "${missing[@]}" >/dev/null 2>&1 || { apt-get update -q >/dev/null && apt-get install -y -q "${missing[@]}" >/dev/null; }
