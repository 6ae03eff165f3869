#!/usr/bin/env python3
"""Runs a burn of plcburn-cli with --json and --log, then checks the record it left: one line in
the log, the first of its chain, the same record as the last event of the stream (a result), a
success on PORT, the image's name as typed and its SHA-256, and lines that end in LF alone.

    record_check.py LOG IMAGE PORT -- COMMAND ARGS...
"""

import hashlib
import json
import os
import subprocess
import sys


def main(argv):
    split = argv.index("--")
    log, image, port = argv[:split]
    if os.path.exists(log):
        os.remove(log)
    burn = subprocess.run(argv[split + 1:], stdout=subprocess.PIPE, check=False)
    out = burn.stdout.decode("utf-8", "replace")
    if burn.returncode != 0:
        print("the burn ended with %d:\n%s" % (burn.returncode, out))
        return 1
    if b"\r" in burn.stdout:
        print("--json lines end in CR LF:\n%r" % burn.stdout[-200:])
        return 1
    last = [json.loads(line) for line in out.splitlines() if line.startswith("{")][-1]
    with open(log, encoding="utf-8") as f:
        records = [json.loads(line) for line in f]
    # The log's own chain: the first record of a new log, which the event's record lacks.
    chain = [(r.pop("seq", "none"), r.pop("prev_sha256", "none")) for r in records]
    if chain != [(1, None)]:
        print("the log's chain %r" % chain)
        return 1
    with open(image, "rb") as f:
        sha256 = hashlib.sha256(f.read()).hexdigest()
    record = last.get("record", {})
    expected = (sha256, os.path.basename(image), "serial", port)
    if (last["event"], last["ok"], records) != ("result", True, [record]) or (
            record["image"]["sha256"], record["image"]["name"], record["link"],
            record["port"]) != expected:
        print("the last event %r, the log %r, expected %r" % (last, records, expected))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
