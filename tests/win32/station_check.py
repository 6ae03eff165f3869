#!/usr/bin/env python3
"""A burning station of the Windows build under Wine, over COM ports that plcsim serves.

    station_check.py cli --wine WINE --cli PLCBURN-CLI --plcsim PLCSIM --image IMAGE --work DIR
                         --qn4-image QN4_IMAGE
    station_check.py window --wine WINE --app PLCBURN --driver UI_DRIVER --plcsim PLCSIM
                            --image IMAGE --work DIR

A PLC is plugged by registering its adapter in Wine's device registry (the Setup API lists it
from there) with plcsim behind the COM port; it is unplugged by removing it. Both programs run
the built-in image, a USB model's, so each COM slot must open its COM port, never the USB lookup.

cli: a station on the USB slot starts and ends on Ctrl+C; then two slots, COM41 and COM5?; a PLC on COM52 is there at the start and must be left alone;
PLCs plugged on COM41 and COM51 afterwards are burned, each once, with its record; Ctrl+C ends
the station (128 + SIGINT). Slots no COM port can match are usage errors before anything starts.

window: slots COM61, COM62 and COM63; COM61 burns to its end, COM62 at the line's real rate, and
the window shows an OK, a BURNING and an EMPTY tile and its --metrics answers a scrape; closing
it asks first, then ends the burn as stopped, with its record, and the window goes.

service: plcburn-cli --install-service registers the service, which Wine's service manager then
starts and stops: without station.conf, and with a wrong one, it stops at once with its reason in
service.log; with a right one it burns, and its stop ends the running burn as stopped, with its
record; --remove-service takes it away."""

import argparse
import json
import os
import signal
import socket
import subprocess
import sys
import time
import urllib.request

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

    # The USB slot is watched on Windows too (Wine has no PLC on it): it starts, and Ctrl+C ends it.
    usb = subprocess.Popen([args.wine, args.cli, "--watch", "USB", "--no-log"],
                           stderr=subprocess.PIPE, text=True)
    started = wait_line(usb.stderr, "station for the VL", 60)
    usb.send_signal(signal.SIGINT)
    usb.communicate(timeout=60)
    check(started and usb.returncode == 128 + signal.SIGINT,
          "a USB slot is watched, and Ctrl+C ends it (%s)" % usb.returncode)

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


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run_window(args, check):
    log = os.path.join(args.work, "station-window.jsonl")
    if os.path.exists(log):
        os.remove(log)
    done, done_save = plcsim(args, args.work, "COM61")
    slow, _ = plcsim(args, args.work, "COM62", "--line-rate")
    port = free_port()
    app = subprocess.Popen([args.wine, args.app, "--station", "COM61", "COM62", "COM63",
                            "--log", wine_path(log), "--metrics", "127.0.0.1:%d" % port])
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
        with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=30) as r:
            figures = r.read().decode()
        check('plcburn_slot_state{slot="COM63",state="empty"} 1' in figures,
              "the window's --metrics answers a scrape")
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


def sc(args, *words):
    r = subprocess.run([args.wine, "sc"] + list(words), capture_output=True, text=True,
                       timeout=60)
    return r.returncode, r.stdout


def service_state(args):
    """(STATE, SERVICE_EXIT_CODE) as sc query tells them; None when it is not installed."""
    code, out = sc(args, "query", "plcburn-station")
    if code != 0:
        return None
    fields = {}
    for line in out.splitlines():
        key, _, value = line.partition(":")
        if value.split():
            fields[key.strip()] = value.split()[0]
    return fields.get("STATE"), fields.get("SERVICE_EXIT_CODE")


def wait_for(what, seconds):
    end = time.monotonic() + seconds
    while True:
        got = what()
        if got or time.monotonic() > end:
            return got
        time.sleep(0.2)


def run_service(args, check):
    folder = os.path.join(os.environ["WINEPREFIX"], "drive_c", "ProgramData", "plcburn")
    os.makedirs(folder, exist_ok=True)
    conf, log = os.path.join(folder, "station.conf"), os.path.join(folder, "service.log")
    burns = os.path.join(folder, "burns.jsonl")
    for path in (conf, log, burns):  # as left by an earlier run
        if os.path.exists(path):
            os.remove(path)

    def log_says(text):
        return os.path.exists(log) and text in open(log, encoding="utf-8").read()

    r = subprocess.run([args.wine, args.cli, "--service"], capture_output=True, text=True,
                       timeout=60)
    check(r.returncode == 2 and "Service Control Manager" in r.stderr,
          "--service outside the service manager is a usage error")
    r = subprocess.run([args.wine, args.cli, "--install-service"], capture_output=True,
                       text=True, timeout=60)
    check(r.returncode == 0 and service_state(args) == ("1", "0"),
          "installed, stopped: %s %s" % (r.stdout.strip(), service_state(args)))
    sim, _ = plcsim(args, args.work, "COM71", "--line-rate")
    try:
        # Exit codes: 3 without station.conf, 2 for a usage error in it; no restart follows.
        for text, exit_code, said in ((None, "3", "cannot read"),
                                      ("SLOTS=LPT1\r\n", "2", "give a COM port"),
                                      ("SLOTS=COM71\nOPTIONS=--no-log\n", "2", "not for OPTIONS")):
            if text is not None:
                with open(conf, "w", newline="") as f:
                    f.write(text)
            sc(args, "start", "plcburn-station")
            state = wait_for(lambda: service_state(args) == ("1", exit_code) and log_says(said), 30)
            check(state, "station.conf %r: stopped with %s, and the log says %r: %s"
                  % (text, exit_code, said, service_state(args)))
        with open(conf, "w", newline="") as f:
            f.write("# the Windows job's station\r\nSLOTS=COM71\r\nOPTIONS=--now\r\n")
        registry(args.wine, args.work, ["COM71"], True)
        sc(args, "start", "plcburn-station")
        check(wait_for(lambda: log_says("COM71: burning"), 60), "the service burns COM71")
        check(service_state(args) == ("4", "0"), "running: %s" % (service_state(args),))
        sc(args, "stop", "plcburn-station")
        check(wait_for(lambda: service_state(args) == ("1", "0"), 60),
              "a stop stops it cleanly: %s" % (service_state(args),))
        got = [(r["port"], r["result"]["stopped"]) for r in records(burns)]
        check(got == [("COM71", True)], "the burn it stopped is recorded as stopped: %s" % got)
    finally:
        sim.wait(0)
        registry(args.wine, args.work, ["COM71"], False)
        r = subprocess.run([args.wine, args.cli, "--remove-service"], capture_output=True,
                           text=True, timeout=120)
    check(r.returncode == 0 and service_state(args) is None,
          "removed: %s" % r.stdout.strip())


def main():
    p = argparse.ArgumentParser()
    p.add_argument("mode", choices=("cli", "window", "service"))
    for name in ("--wine", "--plcsim", "--image", "--work"):
        p.add_argument(name, required=True)
    for name in ("--cli", "--qn4-image", "--app", "--driver"):
        p.add_argument(name)
    args = p.parse_args()
    os.makedirs(args.work, exist_ok=True)
    check = Checks()
    {"cli": run_cli, "window": run_window, "service": run_service}[args.mode](args, check)
    print("%d failed" % check.failed)
    return 1 if check.failed else 0


if __name__ == "__main__":
    sys.exit(main())
