#!/usr/bin/env bash
# Installs the Python package with pip into a fresh virtual environment of
# Debian's python (system packages visible, nothing fetched), then, from
# outside the source tree, runs the Python tests and the stub check on it
# and compares its bits with the CMake-built package's; last, makes a
# wheel. The CMake build of the pip install is kept in build/pip, so the
# wheel and later runs only rebuild what changed.
#   scripts/check-pip.sh <CMake build dir that has the Python package>
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$PWD"
reference="$(cd "$1" && pwd)/python"
work="$(mktemp -d /tmp/pband-pip.XXXXXX)"
trap 'rm -rf "$work"' EXIT
export PBAND_PIP_BUILD_DIR="$repo/build/pip"

/usr/bin/python3 -m venv --system-site-packages "$work/venv"
py="$work/venv/bin/python"
echo "--- pip install --no-build-isolation ."
"$py" -m pip install -q --no-build-isolation --no-deps --no-index .

echo "--- tests on the installed package"
cd "$work"
"$py" -c "import pband; print('package:', pband.__file__)"
PBAND_REFERENCE_PYTHONPATH="$reference" \
  "$py" -m pytest -q -p no:cacheprovider "$repo/python/tests"
"$py" -m mypy.stubtest pband

echo "--- python3 -m build --no-isolation --wheel"
cd "$repo"
"$py" -m build --no-isolation --wheel --outdir "$work/dist" . >/dev/null
ls "$work/dist"
