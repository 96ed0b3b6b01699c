#!/usr/bin/env bash
# Configures and builds Gridmule into build/ (Release with debug info, warnings as errors).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G "Unix Makefiles" -DGRIDMULE_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)" "$@"
