#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test (unit, office, gui).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
cd build
ctest --output-on-failure -j"$(nproc)" "$@"
