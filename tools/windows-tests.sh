#!/bin/sh
# The Windows build, as its operators run it: cross-built with mingw-w64 into build-win/ and
# tested under Wine on a virtual X display (a fresh Debian 12 machine, as root).
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build-win"
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2

sh tools/install-deps.sh g++-mingw-w64-x86-64 googletest wine wine64 xvfb x11-utils imagemagick \
  libgcrypt-mingw-w64-dev

# The burns over COM talk to the Linux simulator.
cmake -S . -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPLCBURN_TESTS=OFF >/dev/null
cmake --build "$build/native" --target plcsim -- -j"$jobs" >/dev/null

cmake --preset windows -DPLCBURN_NATIVE_PLCSIM="$build/native/sim/plcsim" >/dev/null
cmake --build --preset windows -- -j"$jobs"

# A private Wine prefix and X display.
. tools/wine-session.sh
trap wine_session_stop EXIT INT TERM
wine_session_start

# Arguments go to CTest, e.g. -R window_burn -V.
ctest --preset windows -j"$jobs" "$@"
