#!/bin/sh
# Builds and runs the whole test suite under ASan+UBSan and under TSan.
set -eu
cd "$(dirname "$0")/.."
sh tools/install-deps.sh
for preset in asan tsan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -- -j"$(nproc)"
  ctest --preset "$preset" -j"$(nproc)"
done
