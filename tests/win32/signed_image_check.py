#!/usr/bin/env python3
"""plcburn-cli.exe trusts minisign signatures as the Linux build does: an image signed by a key
made here is accepted, the same image with one byte changed refused, by --verify-image and
before a burn opens its port.

    signed_image_check.py WORKDIR IMAGE -- COMMAND...   (COMMAND: wine and plcburn-cli.exe)
"""

import os
import shutil
import subprocess
import sys


def main(argv):
    split = argv.index("--")
    work, image = argv[:split]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    quiet = {"check": True, "cwd": work, "stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL}
    subprocess.run(["minisign", "-G", "-W", "-p", "A.pub", "-s", "A.key"], **quiet)
    with open(os.path.join(work, "A.pub"), encoding="ascii") as f:
        key_id = f.readline().split()[-1]
    for name in ("QN4_signed.bin", "QN4_tampered.bin"):
        shutil.copyfile(image, os.path.join(work, name))
        subprocess.run(["minisign", "-S", "-s", "A.key", "-m", name, "-t", "line 4"], **quiet)
    with open(os.path.join(work, "QN4_tampered.bin"), "r+b") as f:
        f.seek(1000)
        byte = f.read(1)[0]
        f.seek(1000)
        f.write(bytes([byte ^ 1]))

    # Wine reads Z: as the Linux root. Columns: arguments, exit status, what stdout+stderr shows.
    z = "Z:" + os.path.abspath(work) + "/"
    checks = [(["--verify-image", z + "QN4_signed.bin"], 0, "key id           " + key_id),
              (["--verify-image", z + "QN4_tampered.bin"], 1, "was changed after signing"),
              (["--image", z + "QN4_tampered.bin", "--port", "COM99", "--yes"], 2,
               "was changed after signing")]
    failed = 0
    for args, status, text in checks:
        done = subprocess.run(argv[split + 1:] + args + ["--trusted-key", z + "A.pub"],
                              capture_output=True, text=True, check=False)
        if done.returncode != status or text not in done.stdout + done.stderr:
            print("%s: exit %d, not %d with %r:\n%s%s" % (args, done.returncode, status, text,
                                                           done.stdout, done.stderr))
            failed = 1
    return failed


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
