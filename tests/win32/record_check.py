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
    events = [json.loads(line) for line in burn.stdout.splitlines() if line.startswith("{")]
    with open(log, encoding="utf-8") as f:
        records = [json.loads(line) for line in f]
    with open(image, "rb") as f:
        sha256 = hashlib.sha256(f.read()).hexdigest()
    last = events[-1] if events else {}
    problems = []
    if last.get("event") != "result" or not last.get("ok"):
        problems.append("the stream does not end with a successful result: %r" % last)
    if records != [last.get("record")]:
        problems.append("the log holds %r" % records)
    if records and records[0]["image"]["sha256"] != sha256:
        problems.append("image.sha256 %s, the file's %s" % (records[0]["image"]["sha256"], sha256))
    if records and (records[0]["link"], records[0]["port"]) != ("serial", "COM8"):
        problems.append("link and port %s %s" % (records[0]["link"], records[0]["port"]))
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
