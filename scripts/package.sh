#!/usr/bin/env bash
# Builds the Debian package of Gridmule into build/package/ and checks it with lintian.
# Install it with: sudo apt install ./build/package/gridmule_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh --target gridmule gridmule-cli gridmule_install_files
rm -rf build/package
cpack --config build/CPackConfig.cmake -B build/package
if command -v lintian >/dev/null; then
  lintian --fail-on error build/package/gridmule_*.deb
fi
ls build/package/gridmule_*.deb
