#!/bin/sh
# Installs what building and testing plcburn needs on Debian 12 (run as root), plus any
# further Debian packages named as arguments.
set -eu
packages="$* build-essential cmake ninja-build pkg-config python3 \
  libgtest-dev libgmock-dev libusb-1.0-0-dev umockdev libumockdev-dev nlohmann-json3-dev \
  prometheus libgcrypt20-dev minisign libudev-dev libevdev-dev libcli11-dev \
  libpq-dev postgresql \
  qt6-base-dev fonts-dejavu-core \
  help2man man-db desktop-file-utils appstream systemd"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing
fi
