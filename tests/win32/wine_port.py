#!/usr/bin/env python3
"""Puts a pseudo-terminal behind a Wine COM port and runs a Windows test program against it.

    wine_port.py COMn echo -- PROGRAM ARGS...
    wine_port.py COMn plcsim PLCSIM [--save FILE --expect FILE] [PLCSIM ARGS...] -- PROGRAM ARGS...

`echo` serves the link contract test: a line "E<text>" is echoed in two pieces 80 ms apart; a
line "P" is answered with the line settings the port has, as "<baud> <bits><parity><stop>".
`plcsim` runs the simulator on the pty; with --expect the image it received must equal FILE.
The link is $WINEPREFIX/dosdevices/comn; PROGRAM runs with PLCBURN_TEST_COM=COMn."""

import ctypes
import os
import signal
import subprocess
import sys
import termios
import threading
import time
import tty

BAUDS = {getattr(termios, "B%d" % b): b for b in (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)}


def dosdevice(port):
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    return os.path.join(prefix, "dosdevices", port.lower())


def link_port(port, pty_path):
    path = dosdevice(port)
    if os.path.lexists(path):
        os.remove(path)
    os.symlink(pty_path, path)


def unlink_port(port):
    path = dosdevice(port)
    if os.path.lexists(path):
        os.remove(path)


def line_settings(fd):
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(fd)
    bits = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[cflag & termios.CSIZE]
    parity = "N" if not cflag & termios.PARENB else ("O" if cflag & termios.PARODD else "E")
    stop = 2 if cflag & termios.CSTOPB else 1
    return "%d %d%s%d\n" % (BAUDS.get(ospeed, 0), bits, parity, stop)


def serve_echo(master, stop):
    pending = b""
    while not stop.is_set():
        try:
            chunk = os.read(master, 4096)
        except OSError:  # nobody has the port open right now
            time.sleep(0.01)
            continue
        pending += chunk
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            if line.startswith(b"E"):
                text = line[1:]
                os.write(master, text[: len(text) // 2])
                time.sleep(0.08)
                os.write(master, text[len(text) // 2:])
            elif line == b"P":
                os.write(master, line_settings(master).encode())


def run_echo(port, program):
    master, slave = os.openpty()
    tty.setraw(master)
    tty.setraw(slave)
    link_port(port, os.ttyname(slave))
    stop = threading.Event()
    server = threading.Thread(target=serve_echo, args=(master, stop), daemon=True)
    server.start()
    try:
        return subprocess.call(program, env=dict(os.environ, PLCBURN_TEST_COM=port))
    finally:
        stop.set()
        unlink_port(port)


def end_with_parent():
    """In a child before exec: CTest kills this script on a time-out, and the child must not
    outlive it, serving a pty that nobody will open."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


class PlcSim:
    """The Linux simulator on its own pty, linked to a Wine COM port."""

    def __init__(self, plcsim, port, args):
        self.port = port
        self.proc = subprocess.Popen([plcsim] + args, stdout=subprocess.PIPE, text=True,
                                     preexec_fn=end_with_parent)
        pty_path = self.proc.stdout.readline().strip()
        if not pty_path.startswith("/dev/"):
            raise RuntimeError("plcsim gave no pty: %r" % pty_path)
        link_port(port, pty_path)

    def wait(self, timeout):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.terminate()
            self.proc.wait()
            return None
        finally:
            unlink_port(self.port)


def holds_image(received, image):
    """The simulator keeps whole blocks: the image, then the last block's SUB padding."""
    with open(received, "rb") as fr, open(image, "rb") as fi:
        got, want = fr.read(), fi.read()
    tail = got[len(want):]
    return got[:len(want)] == want and len(tail) < 256 and tail == b"\x1a" * len(tail)


def run_plcsim(port, plcsim, sim_args, program):
    save = expect = None
    if "--expect" in sim_args:
        k = sim_args.index("--expect")
        expect = sim_args[k + 1]
        del sim_args[k:k + 2]
    if "--save" in sim_args:
        save = sim_args[sim_args.index("--save") + 1]
    sim = PlcSim(plcsim, port, sim_args)
    status = subprocess.call(program, env=dict(os.environ, PLCBURN_TEST_COM=port))
    sim_status = sim.wait(10)
    if status != 0:
        return status
    if sim_status != 0:
        print("plcsim ended with %s" % sim_status)
        return 1
    if expect and not holds_image(save, expect):
        print("the image the simulator received differs from %s" % expect)
        return 1
    return 0


def main(argv):
    split = argv.index("--")
    head, program = argv[:split], argv[split + 1:]
    port, mode = head[0], head[1]
    if mode == "echo":
        return run_echo(port, program)
    return run_plcsim(port, head[2], head[3:], program)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
