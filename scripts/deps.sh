#!/usr/bin/env bash
# Installs the Debian 12 packages the checker needs, only those that are missing.
set -euo pipefail
pkgs=(cmake g++ make ccache qt6-base-dev libgl-dev libgtest-dev libgmock-dev libbenchmark-dev
      nlohmann-json3-dev libcli11-dev xvfb x11-utils xauth imagemagick openbox
      pkg-config libtango-dev tango-test
      help2man lintian appstream desktop-file-utils dpkg-dev file man-db libpugixml-dev
      # A Tango database for the live tests: MariaDB and DataBaseds; dbconfig-no-thanks
      # keeps tango-db's package scripts from configuring a system database.
      mariadb-server-core mariadb-client-core dbconfig-no-thanks tango-db libtango-tools
      # libFuzzer for the fuzz targets (scripts/fuzz.sh).
      clang-14 libclang-rt-14-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
