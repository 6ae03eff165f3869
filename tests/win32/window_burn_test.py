#!/usr/bin/env python3
"""The window program of a COM model, run under Wine on an X display as an operator runs it:
the idle window, a burn into the simulator on COM5 with a mid-burn look at the panel, the final
message, a refused second start, and closing during a burn. It looks at the screen through
screenshots in a folder of its own, removed at the end."""

import argparse
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_port  # noqa: E402

PORT = "COM5"  # the port the Windows job registers, so the window lists it first


class Check:
    def __init__(self):
        self.failures = 0

    def __call__(self, ok, what):
        print(("ok    " if ok else "FAIL  ") + what, flush=True)
        if not ok:
            self.failures += 1
        return ok


def main():
    p = argparse.ArgumentParser()
    for a in ("--wine", "--app", "--driver", "--plcsim", "--image"):
        p.add_argument(a, required=True)
    args = p.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        return run(args, folder)


def run(args, folder):
    check = Check()

    def driver(*words, timeout=180):
        r = subprocess.run([args.wine, args.driver] + [str(w) for w in words], capture_output=True,
                           text=True, timeout=timeout)
        return r.returncode, r.stdout

    def state():
        code, out = driver("state")
        fields = {}
        for line in out.splitlines():
            key, _, rest = line.partition(" ")
            fields[key] = rest
        return fields

    def shot(name):
        """The whole screen, to look at the window's pixels."""
        root = os.path.join(folder, name + "-root.png")
        subprocess.run(["import", "-window", "root", root], check=True)
        return root

    def pixel(root, client, dx, dy):
        x, y = client[0] + dx, client[1] + dy
        out = subprocess.run(["convert", root, "-format", "%%[pixel:p{%d,%d}]" % (x, y), "info:"],
                             capture_output=True, text=True).stdout.strip()
        return out

    received = os.path.join(folder, "window_received.bin")
    sim = wine_port.PlcSim(args.plcsim, PORT, ["--model", "QN4", "--save", received])
    app = subprocess.Popen([args.wine, args.app])
    try:
        code, out = driver("wait-window", 60000)
        if not check(code == 0, "the window appears"):
            return 1
        s = state()
        client = tuple(int(v) for v in s["client"].split())
        check(s["model"] == "QN4 disabled", "the model list shows QN4, disabled: " + s["model"])
        check(s["port"] == PORT, "the port list offers " + PORT + ": " + s["port"])
        check(s["start"] == "Start Burn enabled", "Start Burn is enabled")
        time.sleep(0.5)  # a panel tick with the logo
        root = shot("idle")
        check(pixel(root, client, 12, 115) in ("srgb(255,255,255)", "white"),
              "the idle progress bar is an empty white frame")
        check(pixel(root, client, 5, 115) == "srgb(200,200,200)",
              "around it the class background, the scroll bar grey: " + pixel(root, client, 5, 115))

        # Enter away from the button is command 1: the file chooser, owned by the window.
        driver("command", 1)
        code, out = driver("answer", 20000, 2)
        check(code == 0 and out.startswith("Open"), "command 1 opens the file chooser: " + out.strip())
        check(driver("no-box", 500)[0] == 0, "cancelling the chooser leaves no dialog")

        # Keys right after start-up: Enter opens the chooser, Escape (IDCANCEL, the number of the
        # Start command) does nothing; neither starts a burn.
        driver("key", "enter")
        code, out = driver("answer", 20000, 2)
        check(code == 0 and out.startswith("Open"), "Enter opens the file chooser: " + out.strip())
        check(state()["start"] == "Start Burn enabled", "Enter started no burn")
        driver("key", "escape")
        check(driver("no-box", 1000)[0] == 0, "Escape shows nothing")
        check(state()["start"] == "Start Burn enabled", "Escape started no burn")

        started = time.monotonic()
        driver("click-start")
        seen_red = False
        while time.monotonic() - started < 120 and not seen_red:
            time.sleep(0.3)
            root = shot("midburn")
            seen_red = pixel(root, client, 12, 115) in ("srgb(255,0,0)", "red")
        check(seen_red, "the progress bar fills red during the burn")
        check(pixel(root, client, 515, 115) in ("srgb(255,255,255)", "white"),
              "the rest of the bar stays white")
        mid = state()
        check(mid["start"] == "Start Burn disabled", "Start Burn is disabled during the burn")
        check(mid["ports"] == "disabled", "the port list is disabled during the burn")
        driver("command", 2)  # as the keyboard handling can deliver it to a disabled button
        code, out = driver("wait-box", 180000)
        lines = (out.splitlines() + ["", ""])[:2]
        check(lines[0] == "INFORMATION: Firmware update is SUCCESSFUL",
              "the burn ends with the success message: " + lines[0])
        check(lines[1].startswith("box "), "the box's place is known: " + lines[1])
        driver("answer", 10000, 1)
        check(sim.wait(10) == 0, "the simulator took the whole transfer")
        check(wine_port.holds_image(received, args.image), "the simulator holds the built-in image")
        code, _ = driver("no-box", 1500)
        check(code == 0, "the refused second start left no second burn behind")
        after = state()
        check(after["start"] == "Start Burn enabled", "Start Burn is enabled again")
        check(after["ports"] == "enabled", "the port list is enabled again")

        # Closing during a burn: asked, then cancelled, silent, and gone within about a second.
        sim = wine_port.PlcSim(args.plcsim, PORT, ["--model", "QN4"])
        driver("click-start")
        time.sleep(3)
        driver("close")
        code, out = driver("answer", 10000, 6)
        confirmed = time.monotonic()
        check(out.startswith("WARNING: A firmware update is running."),
              "closing during a burn asks first: " + out.splitlines()[0] if out else "no question")
        code, out = driver("wait-gone", 5000)
        check(code == 0, "the window is gone after the confirmation: " + out.strip())
        try:
            app.wait(10)
        except subprocess.TimeoutExpired:
            pass
        took = time.monotonic() - confirmed
        check(app.returncode == 0, "the program ends with status 0 (%s)" % app.returncode)
        # One second for the cancelled burn, the rest for Wine to take the process down.
        check(took < 3, "the program ends soon after the window (%.1f s)" % took)
        sim.wait(1)
    finally:
        if app.poll() is None:
            app.terminate()
            app.wait()
    print("%d failed" % check.failures)
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
