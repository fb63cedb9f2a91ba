#!/usr/bin/env python3
"""Runs qev the way a program would: starts it, reads its event lines as they come, shows
the progress, and tells how the run ended.

    examples/scan.py scan --device test:0 --out scans
    examples/scan.py simulate --out pages --pages 3

The arguments go to qev unchanged. The environment variable QEV names the qev to run
(default: qev on the PATH). The exit status is qev's.
"""

import json
import os
import subprocess
import sys


def events(args, qev="qev"):
    """Runs qev with args and yields each event (a dict) the moment its line arrives.

    Returns qev's exit status (the value of StopIteration), or minus the signal's number
    when a signal ended it.
    """
    with subprocess.Popen([qev, *args], stdout=subprocess.PIPE) as process:
        # One JSON object per line, written when it happens: read a line at a time rather
        # than waiting for the end.
        for line in iter(process.stdout.readline, b""):
            yield json.loads(line)
        return process.wait()


def main(argv):
    qev = os.environ.get("QEV", "qev")
    runner = events(argv[1:], qev)
    final = None
    while True:
        try:
            event = next(runner)
        except StopIteration as stop:
            status = stop.value
            break
        except FileNotFoundError:
            print(f"cannot run {qev}: set QEV to the qev binary")
            return 127
        kind = event["event"]
        if kind == "device":
            units = [u for u in ("feeder", "flatbed") if event[u]]
            print(f"scanner {event['id']!r}: {event['name']}, {event['transport'] or 'unknown'},"
                  f" {' and '.join(units) or 'no units'}")
        elif kind == "opened":
            print(f"scanning with {event['name']}")
        elif kind == "page":
            # The page is complete at this path now: a caller can take it at once.
            print(f"page {event['n']}: {event['file']}", flush=True)
        elif kind in ("done", "error"):
            final = event
        # Later versions may add kinds of events: a reader skips what it does not know.

    if final is None:
        # No final event: qev was killed (status -N is signal N) or its output was lost.
        print(f"qev ended without a final event, status {status}")
    elif final["event"] == "done":
        pages = final.get("pages")
        print("done" if pages is None else f"done: {pages} page{'s' if pages != 1 else ''}")
    else:
        print(f"failed: {final['message']}")
    print(f"exit status {status}")
    return status if status >= 0 else 128 - status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
