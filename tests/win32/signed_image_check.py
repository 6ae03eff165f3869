#!/usr/bin/env python3
"""Checks that plcburn-cli.exe trusts a minisign signature as the Linux build does: one image
signed by a key made here accepted, the same image with one byte changed refused, by
--verify-image and before a burn opens its port.

    signed_image_check.py WORKDIR IMAGE -- COMMAND...   (COMMAND: wine and plcburn-cli.exe)
"""

import os
import shutil
import subprocess
import sys

COMMENT = "QN4 release for line 4"


def run(command, *args):
    done = subprocess.run(list(command) + list(args), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, check=False)
    return done.returncode, done.stdout, done.stderr


def main(argv):
    split = argv.index("--")
    work, image = argv[:split]
    cli = argv[split + 1:]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    key, pub = os.path.join(work, "A.key"), os.path.join(work, "A.pub")
    subprocess.run(["minisign", "-G", "-W", "-f", "-p", pub, "-s", key], check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    with open(pub, encoding="ascii") as f:
        key_id = f.readline().split()[-1]
    signed, tampered = os.path.join(work, "QN4_signed.bin"), os.path.join(work, "QN4_tampered.bin")
    for path in (signed, tampered):
        shutil.copyfile(image, path)
        subprocess.run(["minisign", "-S", "-s", key, "-m", path, "-t", COMMENT], check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    with open(tampered, "r+b") as f:
        f.seek(1000)
        byte = f.read(1)
        f.seek(1000)
        f.write(bytes([byte[0] ^ 0x01]))

    # Wine reads Z: as the Linux root.
    trusted = ["--trusted-key", "Z:" + pub]
    checks = [
        ("signed, --verify-image", ["--verify-image", "Z:" + signed], 0, 1, key_id),
        ("signed, --verify-image", ["--verify-image", "Z:" + signed], 0, 1, COMMENT),
        ("tampered, --verify-image", ["--verify-image", "Z:" + tampered], 1, 2,
         "was changed after signing"),
        ("tampered, burn", ["--image", "Z:" + tampered, "--port", "COM99", "--yes"], 2, 2,
         "was changed after signing"),
    ]
    failed = 0
    for what, args, status, stream, text in checks:
        code, out, err = run(cli, *(args + trusted))
        shown = out if stream == 1 else err
        if code != status or text not in shown:
            print("%s: exit %d (expected %d), %r not in:\n%s%s" % (what, code, status, text, out, err))
            failed = 1
    return failed


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
