#!/usr/bin/env bash
# Installs what the benchmark needs if missing (a compiler, CMake, Ninja),
# builds the optimised benchmark and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --benchmark
cmake --preset release -DPBAND_BUILD_TESTS=OFF -DPBAND_BUILD_PYTHON=OFF \
  -DPBAND_BUILD_EXAMPLES=OFF >/dev/null
cmake --build --preset release --target bench1
exec build/release/driver/bench1
