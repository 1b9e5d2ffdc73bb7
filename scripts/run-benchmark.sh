#!/usr/bin/env bash
# Installs what is missing, builds the optimised benchmark and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target bench1
exec build/release/driver/bench1
