#!/bin/sh
# What a burning station costs: plug-to-first-byte latency, and an idle station's CPU and memory.
# usage: station-bench.sh [IDLE_SECONDS]
set -eu
cd "$(dirname "$0")/.."
sh tools/build.sh
cmake --build build --target station_bench plcburn-cli
build/bench/station_bench build/app/plcburn-cli "$@"
