#!/usr/bin/python3
"""Runs qev with the given arguments and prints the peak resident memory (KiB) of qev's own
process and of its driver host, as `main host`. The host's figure is its VmHWM, read while it
runs (it is killed when qev ends, so nobody waits for it and no rusage holds it)."""
import os
import subprocess
import sys
import time


def hwm(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def children(pid):
    found = []
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/children") as c:
                found += [int(p) for p in c.read().split()]
    except OSError:
        pass
    return found


qev = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
main = host = 0
while qev.poll() is None:
    main = max(main, hwm(qev.pid) or 0)
    for child in children(qev.pid):
        host = max(host, hwm(child) or 0)
    time.sleep(0.002)
print(main, host)
