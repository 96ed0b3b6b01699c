#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test (unit, office, gui).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
cd build
LC_ALL=C.UTF-8 ctest --output-on-failure -j"$(nproc)" "$@"
