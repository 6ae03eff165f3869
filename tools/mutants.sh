#!/bin/sh
# Mutation check of the protocol core: each mutant changes one token of the code that puts bytes
# on the wire, and the unit suite must fail for every one. The mutants are built in a copy of
# the tree (build-mutants/), so the working tree is never touched.
#
#   sh tools/mutants.sh            every mutant
#   sh tools/mutants.sh 3 7        only mutants 3 and 7
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
work="$root/build-mutants"
src="$work/src"
build="$work/build"
jobs=$(nproc)

sh tools/install-deps.sh
rm -rf "$src"
mkdir -p "$src"
git ls-files -z | xargs -0 cp --parents -t "$src"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
targets="test_core test_proto test_burn test_sim"
suite() {
  for t in core/test_core proto/test_proto burn/test_burn sim/test_sim; do
    "$build/tests/$t" --gtest_brief=1 --gtest_fail_fast >/dev/null 2>&1 || return 1
  done
}
# shellcheck disable=SC2086
cmake --build "$build" --target $targets -- -j"$jobs" >/dev/null
suite || { echo "mutants: the suite fails without any mutant"; exit 1; }

# file | what it is | the exact text | its mutant
mutants=$(cat <<'EOF'
proto/block_transfer.cpp|CRC polynomial|^ 0x1021|^ 0x1023
proto/modbus_ascii.cpp|LRC sign|static_cast<std::uint8_t>(-sum)|static_cast<std::uint8_t>(sum)
proto/exchange.cpp|retry limit|kMaxFailures = 5|kMaxFailures = 6
proto/app_steps.cpp|application step time-out|kStepTimeoutMs = 3000|kStepTimeoutMs = 2000
proto/app_steps.cpp|dummy frame time-out|kDummyTimeoutMs = 200|kDummyTimeoutMs = 300
proto/boot_steps.cpp|boot-loader time-out|kBootTimeoutMs = 3000|kBootTimeoutMs = 1000
proto/block_transfer.cpp|block time-out|kTransferTimeoutMs = 3000|kTransferTimeoutMs = 1000
proto/control_bytes.h|padding byte|SUB = 0x1A|SUB = 0x00
proto/control_bytes.h|end of transfer|EOT = 0x04|EOT = 0x05
proto/block_transfer.cpp|block number complement|0xFF - packetNum|0xFE - packetNum
core/catalogue.cpp|ZN500 unsent tail|r[12].unsentTail = 4096|r[12].unsentTail = 0
proto/modbus_ascii.cpp|hex letter decoding|return c - 0x37|return c - 0x36
core/result_codes.h|message text|"Firmware update is FAILED"|"Firmware update FAILED"
proto/app_steps.cpp|reply length|kLongReply = 19|kLongReply = 18
core/catalogue.cpp|erase pages per 16 KiB|(fileLength >> 14) + 1|(fileLength >> 13) + 1
EOF
)

n=0
survivors=0
start=$(date +%s)
while IFS='|' read -r file what from to; do
  n=$((n + 1))
  if [ $# -gt 0 ] && ! echo " $* " | grep -q " $n "; then continue; fi
  cp "$src/$file" "$work/original"
  python3 - "$src/$file" "$from" "$to" <<'PY'
import sys
path, old, new = sys.argv[1:]
text = open(path).read()
if text.count(old) != 1:
    sys.exit(f"{path}: '{old}' occurs {text.count(old)} times, not once")
open(path, "w").write(text.replace(old, new))
PY
  # shellcheck disable=SC2086
  if ! cmake --build "$build" --target $targets -- -j"$jobs" >/dev/null 2>&1; then
    # The compiler, not the suite, would have caught it: a mutant to fix, not a kill.
    verdict="DOES NOT BUILD"
    survivors=$((survivors + 1))
  elif suite; then
    verdict="SURVIVED"
    survivors=$((survivors + 1))
  else
    verdict="killed"
  fi
  cp "$work/original" "$src/$file"
  printf '%2d %-26s %-48s %s\n' "$n" "$what" "$file: $to" "$verdict"
done <<EOF
$mutants
EOF
# Leave the copy as it was, so that the next run starts from a clean build.
# shellcheck disable=SC2086
cmake --build "$build" --target $targets -- -j"$jobs" >/dev/null
echo "mutants: $n listed, $survivors not killed by the suite, $(($(date +%s) - start)) s"
[ "$survivors" -eq 0 ]
