#!/bin/sh
# What a burning station costs: plug-to-first-byte latency, an idle station's CPU and memory, and
# its metrics' answer time while PLCs burn and clients stall.
# usage: station-bench.sh [IDLE_SECONDS]
set -eu
cd "$(dirname "$0")/.."
sh tools/build.sh
cmake --build build --target station_bench plcburn-cli plcsim
build/bench/station_bench build/app/plcburn-cli build/sim/plcsim "$@"
