#!/bin/sh
# Configures and builds the default (release with debug info) tree in build/.
set -eu
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default -- -j"$(nproc)"
