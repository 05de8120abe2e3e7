#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, if any is missing.
set -euo pipefail

packages=(cmake g++ make cpp
          qt6-base-dev qt6-base-dev-tools
          qtbase5-dev qtbase5-dev-tools
          libssl-dev fonts-dejavu-core binutils-mingw-w64-i686
          srecord python3 python3-intelhex python3-cryptography acl dfu-util
          binutils-powerpc-linux-gnu binutils-s390x-linux-gnu desktop-file-utils)
# Extra packages named on the command line (the benchmark wants a few).
packages+=("$@")

. "$(dirname "$0")/apt.sh"
mapfile -t missing < <(apt_missing "${packages[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
# An index that fails to download is named and passed over; only a package
# that cannot be installed stops here, with one line saying which and why.
apt_get update
apt_get install -y --no-install-recommends "${missing[@]}"
