#!/bin/sh
# Builds the packages into dist/ (a Debian 12 machine, as root): the Debian package
# plcburn_<version>_amd64.deb, and from the mingw-w64 build the portable zip
# plcburn-<version>-win64.zip and the installer plcburn-<version>-win64-setup.exe.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
dist="$root/dist"
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2

# file: CPack finds the programs for dpkg-shlibdeps with it.
sh tools/install-deps.sh dpkg-dev file help2man gzip udev g++-mingw-w64-x86-64 nsis
# Dates in the man pages and archives: the last commit's, so that a rebuild gives the same files.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH
rm -rf "$dist"
mkdir -p "$dist"

# Linux: Debian's hardening flags, as a Debian build of the package would have them. CMake reads
# them when it configures a new tree only.
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
CFLAGS="$(flags CFLAGS) $(flags CPPFLAGS)" CXXFLAGS="$(flags CXXFLAGS) $(flags CPPFLAGS)" \
  LDFLAGS="$(flags LDFLAGS)" cmake --preset package >/dev/null
cmake --build --preset package -- -j"$jobs"
rm -rf build-pkg/cpack
cpack --config build-pkg/CPackConfig.cmake -B build-pkg/cpack >/dev/null
mv build-pkg/cpack/plcburn_*_amd64.deb "$dist/"

# Windows: the zip from CPack; the installer from the same files, installed into a stage.
cmake --preset package-windows >/dev/null
cmake --build --preset package-windows -- -j"$jobs"
rm -rf build-pkg-win/cpack build-pkg-win/stage
cpack --config build-pkg-win/CPackConfig.cmake -B build-pkg-win/cpack >/dev/null
mv build-pkg-win/cpack/plcburn-*-win64.zip "$dist/"
cmake --install build-pkg-win --prefix build-pkg-win/stage --strip >/dev/null
makensis -V2 -DSTAGE="$root/build-pkg-win/stage" -DDIST="$dist" build-pkg-win/packaging/plcburn.nsi

ls -l "$dist"
