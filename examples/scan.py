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


def show(text):
    # Progress is for now: do not let it wait in a buffer when the output is a pipe.
    print(text, flush=True)


def main(argv):
    qev = os.environ.get("QEV", "qev")
    try:
        # A list of arguments and no shell: folder names need no quoting.
        process = subprocess.Popen([qev, *argv[1:]], stdout=subprocess.PIPE)
    except OSError as e:
        print(f"cannot run {qev}: {e.strerror}; set QEV to the qev binary")
        return 127

    final = None
    with process:
        # One JSON object per line, each written the moment it happens: handle every line as
        # it arrives instead of waiting for the end.
        for line in process.stdout:
            event = json.loads(line)
            kind = event["event"]  # members are found by name; their order varies
            if kind == "device":
                units = " and ".join(u for u in ("feeder", "flatbed") if event[u])
                show(f"scanner {event['id']!r}: {event['name']}"
                     f" ({event['transport'] or 'unknown'}; {units or 'no units'})")
            elif kind == "opened":
                show(f"scanning with {event['name']}")
            elif kind == "page":
                # The page is complete at this path now: take it from here, at once.
                show(f"page {event['n']}: {event['file']}")
            elif kind in ("done", "error"):
                final = event  # always the last line
            # Any other kind is skipped: a reader ignores what it does not know.
    status = process.returncode

    if final is None:
        # No final line: a signal ended qev (status -N for signal N).
        print("qev ended without a final event")
    elif final["event"] == "done":
        pages = final.get("pages")  # list's done has none
        print("done" if pages is None else f"done: {pages} page{'' if pages == 1 else 's'}")
    else:
        # Written for people: show it as it is.
        print(f"failed: {final['message']}")
    print(f"exit status {status}")
    return status if status >= 0 else 128 - status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
