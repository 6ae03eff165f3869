#!/bin/sh
# Takes the pictures in docs/images/ anew, from the screenshot tests: the window idle, mid-burn
# and at its success box, on Linux (Qt, offscreen) and on Windows (under Wine), the numbered
# status panel of the troubleshooting guide and the station window over simulated PLCs, on Linux
# and under Wine (a fresh Debian 12 machine, as root).
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2

sh tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target test_window -- -j"$jobs"
rm -rf build/screenshots
build/tests/app/test_window --gtest_filter='MainWindow.*:StationWindow.Screenshot*'

rm -rf build-win/screenshots
sh tools/windows-tests.sh -R 'window_burn|station_window'

mkdir -p docs/images
for shot in idle midburn success; do
  cp "build/screenshots/$shot.png" "docs/images/linux-$shot.png"
  cp "build-win/screenshots/$shot.png" "docs/images/windows-$shot.png"
done
cp build/screenshots/status-panel.png docs/images/status-panel.png
cp build/screenshots/station.png docs/images/station.png
cp build-win/screenshots/station.png docs/images/win32-station.png
ls -l docs/images
