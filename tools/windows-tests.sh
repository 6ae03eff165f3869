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

# A private Wine prefix and X display. Wine's helper processes outlive the program that starts
# them and keep its output open, so they are started here, away from CTest's pipes; so is the
# wineserver, which otherwise starts (~3 s) for each test and dumps its state into a test's
# output when a pty it holds hangs up.
export WINEPREFIX="$build/wineprefix" WINEARCH=win64 WINEDEBUG=-all
log="$build/wine.log"
: >"$log"
display=90
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >>"$log" 2>&1 &
xvfb=$!
export DISPLAY=":$display"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT INT TERM
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
mkdir -p "$WINEPREFIX"
wineserver -p >>"$log" 2>&1
# No Mono or Gecko: nothing here needs them, and their installers would wait for a click.
[ -f "$WINEPREFIX/system.reg" ] ||
  WINEDLLOVERRIDES="mscoree,mshtml=" wine wineboot --init >>"$log" 2>&1
wine regedit /S "$(winepath -w tests/win32/wine_prefix.reg 2>>"$log")" >>"$log" 2>&1
# Colours and the desktop are read when a session starts: start a new one.
wineserver -k >>"$log" 2>&1 || true
wineserver -w >>"$log" 2>&1 || true
wineserver -p >>"$log" 2>&1
wine wineboot >>"$log" 2>&1

# Arguments go to CTest, e.g. -R window_burn -V.
ctest --preset windows -j"$jobs" "$@"
