#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Gridmule needs.
# Run as root (or with sudo available). Packages already installed are skipped.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-svg-dev qt6-translations-l10n
  libreoffice-calc-nogui libreoffice-dev libreoffice-core-nogui
  libgtest-dev
  libzip-dev zlib1g-dev libdeflate-dev libpugixml-dev libgsf-1-dev libssl-dev
  fonts-noto-cjk fonts-wqy-microhei fonts-crosextra-carlito fonts-crosextra-caladea fonts-liberation
  fontconfig unzip python3 python3-openpyxl python3-msoffcrypto-tool python3-xlrd python3-olefile python3-pil
  parallel
  xvfb xauth
  dpkg-dev lintian desktop-file-utils appstream man-db
  cups-client cups printer-driver-cups-pdf poppler-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
