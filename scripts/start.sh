#!/usr/bin/env bash
# Sets up the machine, builds Gridmule and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh --target gridmule
exec build/gridmule "$@"
