#!/bin/sh
# Runs the tests of one CTest label RUNS times while two busy loops load the machine, and reports
# how often each test failed: a test that waits on real time must pass on a busy machine too.
# usage: flake-hunt.sh LABEL RUNS   (the default tree in build/, brought up to date first)
set -eu
cd "$(dirname "$0")/.."
[ $# -eq 2 ] || { echo "usage: $0 LABEL RUNS" >&2; exit 2; }
label=$1 runs=$2
build=build
sh tools/build.sh >/dev/null

tests=$(ctest --test-dir "$build" -N -L "$label" | sed -n 's/^ *Test *#[0-9]*: //p')
[ -n "$tests" ] || { echo "no test is labelled $label" >&2; exit 2; }

work=$(mktemp -d)
busy=""
# shellcheck disable=SC2086 # one word per busy loop
trap 'kill $busy 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
for _ in 1 2; do
  yes >/dev/null &
  busy="$busy $!"
done

: >"$work/failed"
started=$(date +%s)
run=1
while [ "$run" -le "$runs" ]; do
  rm -f "$build/Testing/Temporary/LastTestsFailed.log"
  ctest --test-dir "$build" -L "$label" >"$work/run.log" 2>&1 || true
  # Lines "N:name", one per failed test.
  if [ -f "$build/Testing/Temporary/LastTestsFailed.log" ]; then
    cut -d : -f 2- "$build/Testing/Temporary/LastTestsFailed.log" >>"$work/failed"
    echo "run $run of $runs: $(wc -l <"$build/Testing/Temporary/LastTestsFailed.log") failed"
  else
    echo "run $run of $runs: passed"
  fi
  run=$((run + 1))
done

echo "== $label, $runs runs with two busy loops, $(($(date +%s) - started)) s"
status=0
echo "$tests" | while IFS= read -r name; do
  failures=$(grep -cxF "$name" "$work/failed" || true)
  echo "$failures of $runs failed: $name"
done
[ -s "$work/failed" ] && status=1
exit "$status"
