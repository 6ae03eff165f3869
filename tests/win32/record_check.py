#!/usr/bin/env python3
"""Runs a burn of plcburn-cli with --json and --log, then checks the record it left: one line in
the log, the same record as the last event of the stream (a result), a success, and the SHA-256
of the image that was burned.

    record_check.py LOG IMAGE -- COMMAND ARGS...
"""

import hashlib
import json
import os
import subprocess
import sys


def main(argv):
    split = argv.index("--")
    log, image = argv[:split]
    if os.path.exists(log):
        os.remove(log)
    burn = subprocess.run(argv[split + 1:], stdout=subprocess.PIPE, text=True, check=False)
    if burn.returncode != 0:
        print("the burn ended with %d:\n%s" % (burn.returncode, burn.stdout))
        return 1
    last = [json.loads(line) for line in burn.stdout.splitlines() if line.startswith("{")][-1]
    with open(log, encoding="utf-8") as f:
        records = [json.loads(line) for line in f]
    with open(image, "rb") as f:
        sha256 = hashlib.sha256(f.read()).hexdigest()
    record = last.get("record", {})
    if (last["event"], last["ok"], records) != ("result", True, [record]) or (
            record["image"]["sha256"], record["link"], record["port"]) != (sha256, "serial", "COM8"):
        print("the last event %r, the log %r, the image's SHA-256 %s" % (last, records, sha256))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
