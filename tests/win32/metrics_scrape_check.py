#!/usr/bin/env python3
"""A station of the Windows build serves its figures for Prometheus: plcburn-cli.exe --watch with
--metrics, under Wine, answers scrapes from the Linux side, keeps its port from a second
station, and ends on Ctrl+C.

    metrics_scrape_check.py --wine WINE --cli PLCBURN-CLI.EXE --image QN4_IMAGE"""

import argparse
import http.client
import signal
import socket
import subprocess
import sys
import tempfile
import time

EXPOSITION = "text/plain; version=0.0.4; charset=utf-8"
SLOT = "COM40"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def ask(port, method, path):
    """(status, header fields, body) of one request on a connection of its own."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
    try:
        connection.request(method, path)
        answer = connection.getresponse()
        return answer.status, {k.lower(): v for k, v in answer.getheaders()}, answer.read()
    finally:
        connection.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--image", required=True)
    args = parser.parse_args()

    port = free_port()
    errors = tempfile.TemporaryFile()
    station = subprocess.Popen(
        [args.wine, args.cli, "--watch", SLOT, "--image", "Z:" + args.image, "--no-log",
         "--metrics", "127.0.0.1:%d" % port],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=errors)
    failures = []

    def said():
        errors.seek(0)
        return errors.read().decode("utf-8", "replace")

    try:
        # Wine starts the program in a few seconds; a loaded machine may take longer.
        answered = None
        deadline = time.monotonic() + 60
        while answered is None and time.monotonic() < deadline and station.poll() is None:
            try:
                answered = ask(port, "GET", "/metrics")
            except OSError:
                time.sleep(0.2)
        if answered is None:
            print("no scrape answered; the station %s:\n%s" % (
                "ended with %s" % station.returncode if station.poll() is not None else "runs",
                said()))
            return 1

        status, fields, body = answered
        text = body.decode("utf-8", "replace")
        shown = 'plcburn_slot_state{slot="%s",state="empty"} 1' % SLOT
        if status != 200 or fields.get("content-type") != EXPOSITION or shown not in text:
            failures.append("GET /metrics: %d %s\n%s" % (status, fields, text))
        if 'plcburn_build_info{' not in text or 'image="QN4_test.bin"' not in text:
            failures.append("GET /metrics names no image:\n" + text)
        status, fields, head = ask(port, "HEAD", "/metrics")
        if status != 200 or head or int(fields.get("content-length", -1)) <= 0:
            failures.append("HEAD /metrics: %d %s %r" % (status, fields, head))
        status, fields, _ = ask(port, "POST", "/metrics")
        if status != 405 or fields.get("allow") != "GET, HEAD":
            failures.append("POST /metrics: %d %s" % (status, fields))
        status, _, _ = ask(port, "GET", "/")
        if status != 404:
            failures.append("GET /: %d" % status)

        # A second station on the same port is a start-up error, not half the scrapes.
        second = subprocess.run(
            [args.wine, args.cli, "--watch", "COM41", "--image", "Z:" + args.image, "--no-log",
             "--metrics", "127.0.0.1:%d" % port],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
            timeout=60)
        refusal = "cannot serve the metrics at 127.0.0.1:%d: address already in use" % port
        if second.returncode != 1 or refusal not in second.stderr.decode("utf-8", "replace").lower():
            failures.append("a second station on the port: exit %d\n%s" % (
                second.returncode, second.stderr.decode("utf-8", "replace")))

        # Ctrl+C: Wine hands SIGINT to the program's console handler.
        station.send_signal(signal.SIGINT)
        try:
            code = station.wait(timeout=30)
            if code != 128 + signal.SIGINT:
                failures.append("the station ended with %d after Ctrl+C:\n%s" % (code, said()))
        except subprocess.TimeoutExpired:
            failures.append("the station did not end within 30 s of Ctrl+C")
    finally:
        if station.poll() is None:
            station.kill()
            station.wait()

    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
