#!/bin/sh
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each for SECONDS (default 60).
# New inputs go to build-fuzz/corpus-*; the seed corpus in fuzz/corpus is read, never written.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
sh tools/install-deps.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPLCBURN_FUZZ=ON -DPLCBURN_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-fuzz --target fuzz_steps fuzz_check_lrc fuzz_minisign fuzz_http_request
for target in steps check_lrc minisign http_request; do
  mkdir -p "build-fuzz/corpus-$target"
  echo "fuzz_$target: $seconds s"
  "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
    "build-fuzz/corpus-$target" "fuzz/corpus/$target" 2>"build-fuzz/fuzz_$target.log" ||
    { tail -n 40 "build-fuzz/fuzz_$target.log"; exit 1; }
  grep -E '^stat::number_of_executed_units' "build-fuzz/fuzz_$target.log" || true
done
echo "fuzzing: no findings"
