#!/usr/bin/env bash
# Installs a build into a temporary prefix and uses it as an outside
# program would: the examples as a CMake project with
# find_package(pband CONFIG REQUIRED OPTIONAL_COMPONENTS mpi), the C
# example built by hand with `pkg-config --cflags --libs pband` (and, where
# the build has MPI, the MPI example with pband_mpi on two ranks), and,
# when the build has the Python package, the Python example and the
# Python tests against SciPy on the installed package. Runs everything it
# builds.
#   scripts/check-install.sh <build dir>
set -euo pipefail
cd "$(dirname "$0")/.."
build="$1"
work="$(mktemp -d /tmp/pband-install.XXXXXX)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
echo "installed into $prefix:"
(cd "$prefix" && find . -type f | sort | sed 's/^/  /')

echo "--- CMake project with find_package(pband CONFIG REQUIRED)"
cmake -S examples -B "$work/examples" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/examples"
ctest --test-dir "$work/examples" --output-on-failure

echo "--- C program with pkg-config"
libdir="$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" \
  pkg-config --variable=libdir pband)"
# shellcheck disable=SC2046
cc -std=c99 -pedantic-errors -Wall -Wextra -Werror -o "$work/solve_c" \
  examples/solve.c $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" \
  pkg-config --cflags --libs pband) -lm
LD_LIBRARY_PATH="$libdir" "$work/solve_c"

if [ -f "$libdir/pkgconfig/pband_mpi.pc" ]; then
  echo "--- C program over MPI with pkg-config, on 2 ranks"
  # shellcheck disable=SC2046
  cc -std=c99 -pedantic-errors -Wall -Wextra -Werror -o "$work/solve_mpi" \
    examples/solve_mpi.c $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" \
    pkg-config --cflags --libs pband_mpi) -lm
  OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 \
    LD_LIBRARY_PATH="$libdir" mpirun -np 2 --oversubscribe "$work/solve_mpi"
else
  echo "--- no libpband_mpi in this build"
fi

site="$(find "$prefix" -type d -path '*-packages/pband' | head -n 1)"
if [ -n "$site" ]; then
  echo "--- Python package"
  export PYTHONPATH="$(dirname "$site")"
  /usr/bin/python3 -c "import pband; print('package:', pband.__file__)"
  /usr/bin/python3 examples/solve.py
  /usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests
else
  echo "--- no Python package in this build"
fi
