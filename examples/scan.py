#!/usr/bin/env python3
"""Runs qev the way a program would: starts it, reads its event lines as they come, shows
the progress, and tells how the run ended.

    examples/scan.py scan --device test:0 --out scans --progress
    examples/scan.py show --device test:0
    examples/scan.py simulate --out pages --pages 3

The arguments go to qev unchanged. The environment variable QEV names the qev to run
(default: qev on the PATH). TIMEOUT, when set, is how many seconds the run may take: then it
is cancelled with SIGTERM, and the final line of a scan is still read and shown. The exit
status is qev's.
"""

import json
import os
import signal
import subprocess
import sys
import threading


# What the user can do about a failure, by the error's code. A program decides by the code,
# never by the message: the message is for people and its wording may change. A code this
# table does not know (one added later) gets no advice.
ADVICE = {
    "usage": "check the arguments",
    "not_connected": "switch the scanner on or plug it in, then try again",
    "busy": "close the other program that uses the scanner, then try again",
    "access_denied": "ask for permission to use this scanner",
    "open_failed": "try again, or switch the scanner off and on",
    "no_flatbed": "scan from the feeder",
    "no_feeder": "scan from the flatbed (--source flatbed)",
    "settings_refused": "try again, or another source or resolution",
    "feeder_empty": "load paper into the feeder, then try again",
    "jammed": "clear the jam, then scan the sheets that are missing",
    "cover_open": "close the scanner's cover, then try again",
    "disconnected": "reconnect the scanner, then scan the sheets that are missing",
    "driver_stopped": "try again; if it happens again, the scanner's driver is at fault",
    "folder_unusable": "choose another folder",
    "disk_full": "free some disk space, then try again",
    "io_error": "try again",
    "draw_failed": "install a font (fonts-dejavu-core)",
    "write_failed": "choose another folder",
    "not_answering": "try again; if it happens again, switch the scanner off and on",
    "driver_missing": "install qev again, with its driver host qev-host",
}


def show(text):
    # Progress is for now: do not let it wait in a buffer when the output is a pipe.
    print(text, flush=True)


def describe_unit(event):
    """One line for a unit of `qev show`, as a scan dialog would offer it."""
    text = f"{event['unit']}: {event['width_mm']} x {event['height_mm']} mm"
    if "dpi" in event:
        # A list: offer exactly these.
        text += ", " + ", ".join(str(dpi) for dpi in event["dpi"]) + " dpi"
    elif "dpi_min" in event:
        # A range: any value from the lowest to the highest.
        text += f", {event['dpi_min']} to {event['dpi_max']} dpi"
    return text + (", both sides" if event["duplex"] else ", one side")


def main(argv):
    qev = os.environ.get("QEV", "qev")
    try:
        timeout = float(os.environ["TIMEOUT"]) if "TIMEOUT" in os.environ else None
    except ValueError:
        print("TIMEOUT must be a number of seconds")
        return 2
    try:
        # A list of arguments and no shell: folder names need no quoting.
        process = subprocess.Popen([qev, *argv[1:]], stdout=subprocess.PIPE)
    except OSError as e:
        print(f"cannot run {qev}: {e.strerror}; set QEV to the qev binary")
        return 127

    # qev ends every run by itself, within limits of its own; a caller that wants a shorter
    # one cancels the run when its time is up. qev then stops the scanner and still writes its
    # final line (within 3 seconds), so reading goes on to the end as ever.
    timed_out = threading.Event()

    def cancel():
        timed_out.set()
        process.send_signal(signal.SIGTERM)  # nothing happens if qev has ended already

    timer = threading.Timer(timeout, cancel) if timeout is not None else None
    if timer:
        timer.daemon = True
        timer.start()

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
            elif kind == "unit":
                show(describe_unit(event))
            elif kind == "opened":
                show(f"scanning with {event['name']}")
            elif kind == "progress":
                # A share of the page where its height is known, else the lines read so far.
                if "percent" in event:
                    show(f"page {event['n']}: {event['percent']}%")
                else:
                    show(f"page {event['n']}: {event['lines']} lines")
            elif kind == "page":
                # The page is complete at this path now: take it from here, at once.
                show(f"page {event['n']}: {event['file']}")
            elif kind in ("done", "error"):
                final = event  # always the last line
            # Any other kind is skipped: a reader ignores what it does not know.
    status = process.returncode
    if timer:
        timer.cancel()

    if final is None:
        # No final line: a signal ended qev (status -N for signal N).
        print("qev ended without a final event")
    elif final["event"] == "done":
        pages = final.get("pages")  # list's done has none
        print("done" if pages is None else f"done: {pages} page{'' if pages == 1 else 's'}")
    elif final["code"] == "cancelled":
        # The caller stopped it (SIGINT, SIGTERM, or the timeout above): nothing went wrong.
        print(f"cancelled after {timeout:g} s" if timed_out.is_set() else "cancelled")
    else:
        # Written for people: show it as it is.
        print(f"failed: {final['message']}")
        advice = ADVICE.get(final["code"])
        if advice:
            print(f"what to do: {advice}")
    print(f"exit status {status}")
    return status if status >= 0 else 128 - status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
