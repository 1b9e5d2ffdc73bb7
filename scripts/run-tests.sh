#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the optimised
# build (with the benchmark under valgrind, the examples, and the
# installed package used from outside, Python tests against SciPy
# included, the Python package pip-installed and tested the same way),
# AddressSanitizer + UndefinedBehaviorSanitizer, ThreadSanitizer
# on the threaded subsystems, and a clang build with a static libpband
# (libraries, module and examples), installed and used from outside as
# well.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
everything=(-DPBAND_BUILD_TESTS=ON -DPBAND_BUILD_PYTHON=ON
            -DPBAND_BUILD_EXAMPLES=ON)
# The Python tests run on the release build only: the sanitizer builds
# leave the module out.
sanitized=(-DPBAND_BUILD_TESTS=ON -DPBAND_BUILD_PYTHON=OFF
           -DPBAND_BUILD_EXAMPLES=ON)
for preset in release asan-ubsan tsan; do
  echo "=== $preset ==="
  start=$SECONDS
  if [ "$preset" = release ]; then
    cmake --preset "$preset" "${everything[@]}" >/dev/null
  else
    cmake --preset "$preset" "${sanitized[@]}" >/dev/null
  fi
  if [ "$preset" = tsan ]; then
    # It runs only the tests labelled "threads": build just those.
    cmake --build --preset tsan --target tests_threads
  else
    cmake --build --preset "$preset"
  fi
  # The Python tests run on the installed package below.
  ctest --preset "$preset" --label-exclude python
  if [ "$preset" = release ]; then
    echo "=== release: installed package ==="
    scripts/check-install.sh build/release
    echo "=== release: pip install ==="
    scripts/check-pip.sh build/release
  fi
  echo "=== $preset: $((SECONDS - start)) s ==="
done
# clang builds the libraries, the module and the examples, and the
# installed package is used from outside; the tests ran under g++ above.
echo "=== clang-release (static libpband) ==="
start=$SECONDS
cmake --preset clang-release -DPBAND_BUILD_TESTS=OFF -DPBAND_BUILD_PYTHON=ON \
  -DPBAND_BUILD_EXAMPLES=ON >/dev/null
cmake --build --preset clang-release
scripts/check-install.sh build/clang-release
echo "=== clang-release: $((SECONDS - start)) s ==="
