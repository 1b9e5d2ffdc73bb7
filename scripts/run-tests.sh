#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the optimised
# build (with the benchmark under valgrind), AddressSanitizer +
# UndefinedBehaviorSanitizer, ThreadSanitizer on the threaded subsystems,
# and a clang build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in release asan-ubsan tsan; do
  echo "=== $preset ==="
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  if [ "$preset" = tsan ]; then
    # It runs only the tests labelled "threads": build just those.
    cmake --build --preset tsan --target tests_threads
  else
    cmake --build --preset "$preset"
  fi
  ctest --preset "$preset"
  echo "=== $preset: $((SECONDS - start)) s ==="
done
echo "=== clang-release (build only) ==="
start=$SECONDS
cmake --preset clang-release >/dev/null
cmake --build --preset clang-release
echo "=== clang-release: $((SECONDS - start)) s ==="
