#!/usr/bin/env bash
# Installs the Debian packages that are missing. With --benchmark, only
# what building and running the benchmark needs; otherwise also what the
# tests, the Python package, its tests against SciPy, the solve over MPI
# (Open MPI) and the install check need.
#   scripts/install-deps.sh [--benchmark]
set -euo pipefail
packages=(cmake ninja-build gcc g++)
if [ "${1:-}" != "--benchmark" ]; then
  packages+=(clang libgtest-dev liblapack-dev libblas-dev valgrind pkg-config
             python3-dev python3-pybind11 pybind11-dev python3-numpy
             python3-scipy python3-pytest python3-venv python3-pip
             python3-setuptools python3-wheel python3-build python3-mypy
             python3-threadpoolctl libopenmpi-dev openmpi-bin)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
  --no-install-recommends "${missing[@]}"
