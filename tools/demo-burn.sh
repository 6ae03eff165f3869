#!/bin/sh
# The main job: burns the built-in image into the bundled PLC simulator on a pseudo-terminal,
# at the real line rates, showing the progress and the final message.
set -eu
cd "$(dirname "$0")/.."
sh tools/install-deps.sh
# Only what the demo runs, with what it links, and without debug info (a third of the compile
# time), in a tree of its own: the tests are built by tools/run-tests.sh in build/.
cmake --preset demo >/dev/null
cmake --build --preset demo --target plcburn-cli --target plcsim -- -j"$(nproc)"
model=$(build-demo/app/plcburn-cli --build-model)
ptyfile=$(mktemp)
build-demo/sim/plcsim --model "$model" --line-rate >"$ptyfile" &
sim=$!
trap 'kill $sim 2>/dev/null || true; rm -f "$ptyfile"' EXIT INT TERM
for _ in $(seq 50); do [ -s "$ptyfile" ] && break; sleep 0.1; done
port=$(head -n 1 "$ptyfile")
echo "plcsim: a simulated $model on $port"
build-demo/app/plcburn-cli --port "$port" --yes
