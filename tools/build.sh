#!/bin/sh
# Configures and builds the default (release with debug info) tree in build/: everything, or only
# the targets named (and what they link).
# usage: build.sh [TARGET]...
set -eu
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
if [ $# -gt 0 ]; then
  # shellcheck disable=SC2046 # one --target per name
  cmake --build --preset default $(printf -- '--target %s ' "$@") -- -j"$(nproc)"
else
  cmake --build --preset default -- -j"$(nproc)"
fi
