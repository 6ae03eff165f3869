#!/bin/sh
# Burns through plcburn-cli into plcsim on pseudo-terminals, in real time.
# usage: cli_burns.sh CLI PLCSIM IMAGE CASE
#   CASE: all-models | boot-loader | lost-ack-naked-block | vanishes | no-port | records
set -u
cli=$1 sim=$2 image=$3 case=$4
work=$(mktemp -d)
pids=""
cleanup() {
  for p in $pids; do kill "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
fail() { echo "FAIL: $*"; exit 1; }
# The burns' records go to the test's own folder, not to the user's burn log.
export XDG_STATE_HOME="$work/state"

# Starts plcsim for model $1 with extra options; sets $port.
start_sim() {
  name=$1; shift
  "$sim" "$@" --save "$work/$name.received" >"$work/$name.pty" 2>"$work/$name.simerr" &
  pids="$pids $!"
  for _ in $(seq 100); do [ -s "$work/$name.pty" ] && break; sleep 0.05; done
  port=$(head -n 1 "$work/$name.pty")
  [ -n "$port" ] || fail "plcsim for $name printed no port: $(cat "$work/$name.simerr")"
}

# The image under a name for model $1, since plcburn-cli refuses an image named for another model;
# prints the copy's path.
image_for() {
  copy="$work/$1_$(basename "$image")"
  [ -f "$copy" ] || cp "$image" "$copy"
  echo "$copy"
}

# The image bytes a model receives: all of them, but the last 4096 on a ZN500.
expect_received() {
  name=$1 img=$2 sent=$3
  got="$work/$name.received"
  [ -s "$got" ] || fail "$name: nothing received"
  cmp -n "$sent" "$img" "$got" >/dev/null || fail "$name: received image differs"
}

# The last line on stderr is the error's one hint line, which begins with $1.
expect_hint() {
  last=$(tail -n 1 "$work/err")
  case $last in "$1"*) ;; *) fail "no hint '$1...' last on stderr: $(cat "$work/err")" ;; esac
  [ "$(grep -c "^$1" "$work/err")" = 1 ] || fail "not one hint line: $(cat "$work/err")"
}

case $case in
all-models)
  # Every model at once: each burn spends most of its time in fixed waits.
  for model in TR7-MX7 QN4 QW4 QK4 TR7-B VL QJ5 40MX7-PQN QW TR7-D VL-K QK4-K ZN500 \
               TR-MX-QJ4 MX7-GLT QK48 TR7-F; do
    img=$(image_for "$model")
    if [ "$model" = 40MX7-PQN ]; then
      img="$work/40MX7-PQN_small.bin"
      head -c 12288 "$image" >"$img"
    fi
    start_sim "$model" --model "$model"
    "$cli" --model "$model" --image "$img" --port "$port" --yes \
      >"$work/$model.out" 2>"$work/$model.err" &
    echo "$! $model $img" >>"$work/burns"
  done
  while read -r pid model img; do
    wait "$pid"; rc=$?
    out=$(tail -n 1 "$work/$model.out")
    [ "$rc" = 0 ] || fail "$model: exit $rc, $out"
    case $model in
      VL|VL-K|ZN500) want="Information: Firmware update is SUCCESSFUL!, please REPLUG the USB cable" ;;
      *) want="INFORMATION: Firmware update is SUCCESSFUL" ;;
    esac
    [ "$out" = "$want" ] || fail "$model: last line '$out'"
    size=$(wc -c <"$img")
    [ "$model" = ZN500 ] && size=$((size - 4096))
    expect_received "$model" "$img" "$size"
    echo "ok $model"
  done <"$work/burns"
  # Seventeen processes appended to one log: its chain holds.
  out=$("$cli" --verify-log "$XDG_STATE_HOME/plcburn/burns.jsonl") || fail "--verify-log: $out"
  case $out in *": 17 records checked, the chain is intact;"*) ;; *) fail "log: '$out'" ;; esac
  ;;
boot-loader)
  start_sim vl --model VL --boot
  out=$("$cli" --model VL --image "$(image_for VL)" --port "$port" --yes) || fail "exit $?: $out"
  [ "$out" = "Information: Firmware update is SUCCESSFUL!, please REPLUG the USB cable" ] ||
    fail "output '$out' (no reconnect prompt expected)"
  expect_received vl "$image" "$(wc -c <"$image")"
  ;;
lost-ack-naked-block)
  start_sim qn4 --model QN4 --boot --fault lose-ack:10 --fault nak-block:20:3
  out=$("$cli" --model QN4 --image "$(image_for QN4)" --port "$port") || fail "exit $?: $out"
  [ "$out" = "INFORMATION: Firmware update is SUCCESSFUL" ] || fail "output '$out'"
  expect_received qn4 "$image" "$(wc -c <"$image")"
  ;;
vanishes)
  start_sim vl --model VL --boot --fault hangup:100
  start=$(date +%s)
  out=$("$cli" --model VL --image "$(image_for VL)" --port "$port" --yes 2>"$work/err"); rc=$?
  took=$(($(date +%s) - start))
  [ "$rc" = 1 ] || fail "exit $rc"
  [ "$out" = "ERROR: Firmware update is FAILED" ] || fail "output '$out'"
  [ "$took" -lt 30 ] || fail "took $took s"
  expect_hint "the PLC is left without a complete firmware: burn it again"
  ;;
no-port)
  out=$("$cli" --model QN4 --image "$(image_for QN4)" --port /dev/plcburn-no-such-port \
    2>"$work/err"); rc=$?
  [ "$rc" = 1 ] || fail "exit $rc"
  [ "$out" = "ERROR: CANNOT open /dev/plcburn-no-such-port Port!!!" ] || fail "output '$out'"
  # The system's reason, then the hint.
  [ "$(tail -n 2 "$work/err" | head -n 1)" = "/dev/plcburn-no-such-port: no such device: check \
the port name and that the adapter is plugged in" ] || fail "no reason: $(cat "$work/err")"
  expect_hint "the port could not be opened: "
  # With --json the hint is a field of the result.
  "$cli" --model QN4 --image "$(image_for QN4)" --port /dev/plcburn-no-such-port --json \
    --no-log 2>/dev/null | tail -n 1 | python3 -c '
import json, sys
result = json.loads(sys.stdin.read())
assert result["event"] == "result" and not result["ok"], result
assert result["hint"].startswith("the port could not be opened: "), result' ||
    fail "no hint in the result event"
  ;;
records)
  # One record per burn, in the log and, with --json, as the last event of the stream.
  img="$work/QN4_record.bin"
  head -c 20000 "$image" >"$img"
  start_sim qn4 --model QN4 --boot
  "$cli" --image "$img" --port "$port" --json --log "$work/log/burns.jsonl" \
    >"$work/events" 2>"$work/err" || fail "exit $?: $(cat "$work/err")"
  python3 - "$work/events" "$work/log/burns.jsonl" "$(sha256sum "$img" | cut -d ' ' -f 1)" <<'EOF' ||
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
assert all("event" in e and e["port"] for e in events), events
assert events[-1]["event"] == "result" and events[-1]["ok"], events[-1]
log = [json.loads(line) for line in open(sys.argv[2])]
assert [(r.pop("seq"), r.pop("prev_sha256")) for r in log] == [(1, None)], log
assert log == [events[-1]["record"]], log
assert log[0]["image"]["sha256"] == sys.argv[3], log[0]["image"]
EOF
    fail "events: $(cat "$work/events")"
  # --verify-log: the chain checked; an edited record named by its line on stderr (1); a file
  # that is no burn log (1); one that cannot be read (2).
  start_sim qn4-second --model QN4 --boot
  "$cli" --image "$img" --port "$port" --log "$work/log/burns.jsonl" --serial 4711-0193 \
    >/dev/null 2>&1 || fail "second burn: exit $?"
  out=$("$cli" --verify-log "$work/log/burns.jsonl") || fail "--verify-log: exit $?: $out"
  last=$(sed -n 2p "$work/log/burns.jsonl" | sha256sum | cut -d ' ' -f 1)
  case $out in *": 2 records checked, the chain is intact; the last, line 2, has SHA-256 $last") ;;
    *) fail "--verify-log: '$out'" ;; esac
  sed '1s/"QN4"/"QN5"/' "$work/log/burns.jsonl" >"$work/edited.jsonl"
  for row in "edited.jsonl|1|line 1: edited: line 2 names another SHA-256 for it" \
             "events|1|not a burn log" "absent.jsonl|2|cannot read the burn log"; do
    file=${row%%|*} rest=${row#*|}
    "$cli" --verify-log "$work/$file" >"$work/out" 2>"$work/err"; rc=$?
    [ "$rc" = "${rest%%|*}" ] || fail "--verify-log $file: exit $rc"
    grep -q "^plcburn-cli: .*${rest#*|}" "$work/err" || fail "--verify-log $file: $(cat "$work/err")"
  done
  # --history: newest first, from every log given; a line cut off at the end is passed over.
  log=$work/log/burns.jsonl
  printf '{"schema":1,"seq":3,"start":"2026-' >>"$work/edited.jsonl"
  for row in "--history 4711-0193 --log $log|0|2|^20.*  QN4  *4711-0193  *QN4_record.bin  .*  OK$" \
             "--history --log $log --log $work/edited.jsonl|0|5|^START " \
             "--history --log $log --log $work/edited.jsonl --json|0|4|\"model\":\"QN5\"" \
             "--history --since 2100-01-01 --log $log|1|0|no burn since 2100-01-01T00:00:00.000Z in" \
             "--history 4711-0194 --log $log|1|0|no burn of 4711-0194 in $log" \
             "--history --log $work/absent.jsonl|2|0|cannot read the burn log"; do
    args=${row%%|*} rest=${row#*|}
    rc=${rest%%|*} rest=${rest#*|}
    lines=${rest%%|*} want=${rest#*|}
    # shellcheck disable=SC2086 # the row's words
    "$cli" $args >"$work/out" 2>"$work/err"; got=$?
    [ "$got" = "$rc" ] || fail "$args: exit $got: $(cat "$work/err")"
    [ "$(wc -l <"$work/out")" = "$lines" ] || fail "$args: $(cat "$work/out")"
    cat "$work/out" "$work/err" | grep -q -- "$want" || fail "$args: no '$want' in $(cat "$work/out" "$work/err")"
  done
  # Newest first: the second burn's record before the first's, each log's records merged.
  "$cli" --history --log "$log" --log "$work/edited.jsonl" --json | python3 -c '
import json, sys
starts = [json.loads(line)["start"] for line in sys.stdin]
assert starts == sorted(starts, reverse=True) and len(starts) == 4, starts' ||
    fail "--history --json is not newest first"
  # A log that cannot be written: one warning, and the burn stays a success.
  start_sim qn4-again --model QN4 --boot
  out=$("$cli" --image "$img" --port "$port" --log "$img/burns.jsonl" 2>"$work/err") ||
    fail "unwritable log: exit $?"
  [ "$out" = "INFORMATION: Firmware update is SUCCESSFUL" ] || fail "output '$out'"
  [ "$(grep -c 'cannot write the burn log' "$work/err")" = 1 ] || fail "warnings: $(cat "$work/err")"
  # A FIFO that nobody reads: refused at once with the same one warning, not waited on.
  mkfifo "$work/fifo"
  start_sim qn4-fifo --model QN4 --boot
  out=$("$cli" --image "$img" --port "$port" --log "$work/fifo" 2>"$work/err") ||
    fail "FIFO log: exit $?"
  ended=$(date +%s%N)
  [ "$out" = "INFORMATION: Firmware update is SUCCESSFUL" ] || fail "FIFO log: output '$out'"
  grep -q "cannot write the burn log $work/fifo: it is not a regular file" "$work/err" ||
    fail "FIFO log: warnings: $(cat "$work/err")"
  # plcsim saves the image when the transfer ends.
  late=$(((ended - $(date -r "$work/qn4-fifo.received" +%s%N)) / 1000000))
  [ "$late" -lt 1000 ] || fail "FIFO log: the burn ended $late ms after the transfer"
  ;;
*) fail "unknown case $case" ;;
esac
echo "passed: $case"
