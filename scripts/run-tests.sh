#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the optimised
# build, AddressSanitizer + UndefinedBehaviorSanitizer, ThreadSanitizer on
# the threaded subsystems, and a clang build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in release asan-ubsan tsan; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
echo "=== clang-release (build only) ==="
cmake --preset clang-release >/dev/null
cmake --build --preset clang-release
