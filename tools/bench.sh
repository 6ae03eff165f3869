#!/bin/sh
# Times full burns into plcsim at the real line rates against the wire's floor.
set -eu
cd "$(dirname "$0")/.."
sh tools/build.sh
cmake --build build --target burn_bench plcsim
build/bench/burn_bench build/sim/plcsim "$@"
