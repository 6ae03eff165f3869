#!/usr/bin/env python3
"""A burning station of the Windows build under Wine, over COM ports that plcsim serves.

    station_check.py cli --wine WINE --cli PLCBURN-CLI --plcsim PLCSIM --image IMAGE --work DIR
                         --qn4-image QN4_IMAGE
    station_check.py window --wine WINE --app PLCBURN --driver UI_DRIVER --plcsim PLCSIM
                            --image IMAGE --work DIR [--shot PNG]

A PLC is plugged by registering its adapter in Wine's device registry (the Setup API lists it
from there) with plcsim behind the COM port; it is unplugged by removing it. Both programs run
the built-in image, a USB model's, so each COM slot must open its COM port, never the USB lookup.

cli: two slots, COM41 and COM5?; a PLC on COM52 is there at the start and must be left alone;
PLCs plugged on COM41 and COM51 afterwards are burned, each once, with its record; Ctrl+C ends
the station (128 + SIGINT). Slots no COM port can match are usage errors before anything starts.

window: slots COM61, COM62 and COM63; COM61 burns to its end, COM62 at the line's real rate, and
the window shows an OK, a BURNING and an EMPTY tile; closing it asks first, then ends the burn as
stopped, with its record, and the window goes."""

import argparse
import json
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_port import PlcSim, holds_image  # noqa: E402

# The station's tiles, as the window paints them (0xRRGGBB).
OK_GREEN, BURNING_WHITE, EMPTY_GREY = 0x40B050, 0xF4F4F4, 0xB4B4B4
ADAPTER = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum\USB\VID_0403&PID_6001\PLCBURNTEST%s"


class Checks:
    def __init__(self):
        self.failed = 0

    def __call__(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what, flush=True)
        if not ok:
            self.failed += 1
        return ok


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def registry(wine, work, ports, plugged):
    """Plugs (or unplugs) the adapters of `ports` in one registry change."""
    lines = ["REGEDIT4", ""]
    for port in ports:
        key = ADAPTER % port[3:]
        if plugged:
            lines += ["[%s]" % key, '"Class"="Ports"',
                      '"ClassGUID"="{4d36e978-e325-11ce-bfc1-08002be10318}"',
                      '"FriendlyName"="USB Serial Port (%s)"' % port, ""]
        else:
            lines += ["[-%s]" % key, ""]
    path = os.path.join(work, "plug.reg")
    with open(path, "w") as f:
        f.write("\r\n".join(lines))
    subprocess.run([wine, "regedit", "/S", wine_path(path)], check=True, timeout=60)


def plcsim(args, work, port, *more):
    save = os.path.join(work, port + ".received")
    if os.path.exists(save):
        os.remove(save)
    return PlcSim(args.plcsim, port, ["--model", "VL", "--boot", "--save", save] + list(more)), save


def received_nothing(save):
    return not os.path.exists(save) or os.path.getsize(save) == 0


def records(log):
    if not os.path.exists(log):
        return []
    with open(log, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def wait_line(stream, text, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        line = stream.readline()
        if not line:
            return False
        if text in line:
            return True
    return False


def run_cli(args, check):
    usage = [
        (["--watch", "LPT1"], "give a COM port"),
        (["--watch", "USB", "--model", "QN4", "--image", wine_path(args.qn4_image)],
         "the QN4 is not reached over USB"),
    ]
    for extra, said in usage:
        r = subprocess.run([args.wine, args.cli] + extra, capture_output=True, text=True,
                           timeout=60)
        check(r.returncode == 2 and said in r.stderr, "usage error: %s (%d, %s)"
              % (" ".join(extra), r.returncode, r.stderr.strip().splitlines()[:1]))

    log = os.path.join(args.work, "station-cli.jsonl")
    if os.path.exists(log):
        os.remove(log)
    sims = {port: plcsim(args, args.work, port) for port in ("COM41", "COM51", "COM52")}
    registry(args.wine, args.work, ["COM52"], True)
    station = subprocess.Popen([args.wine, args.cli, "--watch", "COM41", "COM5?",
                                "--log", wine_path(log)],
                               stderr=subprocess.PIPE, text=True)
    try:
        check(wait_line(station.stderr, "station for the VL", 60), "the station starts")
        # Its first look takes what is there at the start as left alone.
        time.sleep(4)
        registry(args.wine, args.work, ["COM41", "COM51"], True)
        for port in ("COM41", "COM51"):
            sim, save = sims[port]
            status = sim.wait(120)
            check(status == 0 and holds_image(save, args.image),
                  "%s burned through its COM port (plcsim %s)" % (port, status))
        station.send_signal(signal.SIGINT)
        out, _ = station.communicate(timeout=60)
        check(station.returncode == 128 + signal.SIGINT, "Ctrl+C ends the station (%s)"
              % station.returncode)
    finally:
        if station.poll() is None:
            station.kill()
        registry(args.wine, args.work, ["COM41", "COM51", "COM52"], False)
    sim, save = sims["COM52"]
    sim.wait(0)
    check(received_nothing(save), "COM52, there at the start, is left alone")
    got = sorted((r["port"], r["slot"], r["link"], r["result"]["ok"]) for r in records(log))
    check(got == [("COM41", "COM41", "serial", True), ("COM51", "COM5?", "serial", True)],
          "one record for each burn, over its serial port: %s" % got)


def driver(args, *words):
    r = subprocess.run([args.wine, args.driver, "--station"] + [str(w) for w in words],
                       capture_output=True, text=True, timeout=180)
    return r.returncode, r.stdout


def tile_colours(args, window):
    """How many pixels of each tile colour the window shows now."""
    left, top, right, bottom = window
    shot = os.path.join(args.work, "station-window.png")
    subprocess.run(["import", "-window", "root", "-crop",
                    "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage", shot],
                   check=True, timeout=60)
    ppm = subprocess.run(["convert", shot, "-depth", "8", "rgb:-"], capture_output=True,
                         check=True, timeout=60).stdout
    counts = {OK_GREEN: 0, BURNING_WHITE: 0, EMPTY_GREY: 0}
    for i in range(0, len(ppm) - 2, 3):
        rgb = (ppm[i] << 16) | (ppm[i + 1] << 8) | ppm[i + 2]
        if rgb in counts:
            counts[rgb] += 1
    return counts, shot, (right - left) * (bottom - top)


def run_window(args, check):
    log = os.path.join(args.work, "station-window.jsonl")
    if os.path.exists(log):
        os.remove(log)
    done, done_save = plcsim(args, args.work, "COM61")
    slow, _ = plcsim(args, args.work, "COM62", "--line-rate")
    app = subprocess.Popen([args.wine, args.app, "--station", "COM61", "COM62", "COM63",
                            "--log", wine_path(log)])
    try:
        code, out = driver(args, "wait-window", 60000)
        check(code == 0, "the station window opens")
        window = [int(v) for v in out.split("window ")[1].split()[:4]]
        registry(args.wine, args.work, ["COM61", "COM62"], True)
        status = done.wait(120)
        check(status == 0 and holds_image(done_save, args.image),
              "COM61 burned from the window (plcsim %s)" % status)
        # Each state's tile in its colour, over a good part of the window.
        end = time.monotonic() + 30
        while True:
            counts, shot, area = tile_colours(args, window)
            if all(n > area // 20 for n in counts.values()) or time.monotonic() > end:
                break
            time.sleep(0.5)
        check(all(n > area // 20 for n in counts.values()),
              "OK, BURNING and EMPTY tiles show: %s" % counts)
        if args.shot:
            os.makedirs(os.path.dirname(args.shot), exist_ok=True)
            os.replace(shot, args.shot)
        driver(args, "close")
        code, out = driver(args, "answer", 20000, 6)
        check(code == 0 and "firmware update is running" in out,
              "closing mid-burn asks first: %s" % out.strip())
        code, out = driver(args, "wait-gone", 30000)
        check(code == 0, "the window goes once the burn has ended: %s" % out.strip())
        app.wait(30)
        check(app.returncode == 0, "the window program ends with 0 (%s)" % app.returncode)
    finally:
        if app.poll() is None:
            app.kill()
        slow.wait(0)
        registry(args.wine, args.work, ["COM61", "COM62"], False)
    got = sorted((r["port"], r["result"]["ok"], r["result"]["stopped"]) for r in records(log))
    check(got == [("COM61", True, False), ("COM62", False, True)],
          "the ended burn and the stopped one are recorded: %s" % got)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("mode", choices=("cli", "window"))
    for name in ("--wine", "--plcsim", "--image", "--work"):
        p.add_argument(name, required=True)
    for name in ("--cli", "--qn4-image", "--app", "--driver", "--shot"):
        p.add_argument(name)
    args = p.parse_args()
    os.makedirs(args.work, exist_ok=True)
    check = Checks()
    {"cli": run_cli, "window": run_window}[args.mode](args, check)
    print("%d failed" % check.failed)
    return 1 if check.failed else 0


if __name__ == "__main__":
    sys.exit(main())
