#!/usr/bin/python3
"""Runs examples/scan.py against the real qev, as a reader of its documentation would.

    example_test.py QEV_BINARY SOURCE_FOLDER SCRATCH_FOLDER
"""

import os
import pathlib
import re
import subprocess
import sys
import tempfile
import time


def run(example, qev, args, extra=None):
    """Runs the example; returns its status and its output lines with their arrival times."""
    env = dict(os.environ, QEV=qev, **(extra or {}))
    env.pop("PYTHONUNBUFFERED", None)  # the example must flush its progress itself
    start = time.monotonic()
    with subprocess.Popen([sys.executable, example, *args], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, env=env) as process:
        lines = [(time.monotonic() - start, line.decode().rstrip("\n"))
                 for line in iter(process.stdout.readline, b"")]
        status = process.wait()
    return status, lines, time.monotonic() - start


def main(argv):
    qev, source, scratch = argv[1], pathlib.Path(argv[2]), pathlib.Path(argv[3])
    example = str(source / "examples" / "scan.py")
    scratch.mkdir(parents=True, exist_ok=True)
    failures = []
    with tempfile.TemporaryDirectory(dir=scratch) as folder:
        out = os.path.join(folder, "pages")
        plain = os.path.join(folder, "plain")
        with open(plain, "w", encoding="utf-8") as f:
            f.write("not a folder")
        cases = [
            # name, qev, arguments, status, lines that must appear, in this order
            ("usage error", qev, [], 1,
             ["failed: Use list, scan or simulate.", "what to do: check the arguments",
              "exit status 1"]),
            ("scan without a folder", qev, ["scan", "--device", "test:0"], 1,
             ["failed: Name a scanner and a folder.", "what to do: check the arguments",
              "exit status 1"]),
            ("pages into a plain file", qev,
             ["simulate", "--out", os.path.join(plain, "pages")], 1,
             ["failed: Could not write a test page: Not a directory",
              "what to do: choose another folder", "exit status 1"]),
            ("no qev", os.path.join(folder, "missing"), ["simulate"], 127,
             ["cannot run " + os.path.join(folder, "missing")
              + ": No such file or directory; set QEV to the qev binary"]),
        ]
        for name, binary, args, want_status, want in cases:
            status, lines, _ = run(example, binary, args)
            texts = [text for _, text in lines]
            if status != want_status or texts != want:
                failures.append(f"{name}: status {status}, output {texts}")
        # A real run: each page is shown when it is made, not when qev ends. qev pauses 0.3 s
        # after every page, so page 1 must show at least that long before the end.
        status, lines, _ = run(example, qev, ["simulate", "--out", out, "--pages", "2"])
        texts = [text for _, text in lines]
        page = re.escape(out) + r"/QEV_\d{8}_\d{6}_000%d\.jpg"
        patterns = ["page 1: " + page % 1, "page 2: " + page % 2, "done: 2 pages",
                    "exit status 0"]
        if status != 0 or len(texts) != len(patterns) or not all(
                re.fullmatch(p, t) for p, t in zip(patterns, texts)):
            failures.append(f"simulate: status {status}, output {texts}")
        else:
            for text in texts[:2]:
                if not os.path.isfile(text.split(": ", 1)[1]):
                    failures.append(f"simulate: no file for {text!r}")
            if lines[-1][0] - lines[0][0] < 0.3:
                failures.append("simulate: page 1 was shown only at the end of the run")
        cases.append("simulate")

        # A scan of SANE's test scanner, from its flatbed: one page, with its progress: 0% as
        # its data start, then any figures that grew while it was read.
        test_config = {"SANE_CONFIG_DIR": str(source / "tests" / "sane" / "test")}
        scans = os.path.join(folder, "scans")
        status, lines, _ = run(example, qev, ["scan", "--device", "test:0", "--out", scans,
                                              "--source", "flatbed", "--dpi", "50",
                                              "--progress"], test_config)
        texts = [text for _, text in lines]
        figures = [int(m[1]) for m in map(re.compile(r"page 1: (\d+)%").fullmatch, texts) if m]
        rest = [text for text in texts if not re.fullmatch(r"page 1: \d+%", text)]
        patterns = ["scanning with Noname frontend-tester",
                    "page 1: " + re.escape(scans) + r"/QEV_\d{8}_\d{6}_0001\.jpg", "done: 1 page",
                    "exit status 0"]
        if status != 0 or len(rest) != len(patterns) or not all(
                re.fullmatch(p, t) for p, t in zip(patterns, rest)):
            failures.append(f"scan: status {status}, output {texts}")
        elif not os.path.isfile(rest[1].split(": ", 1)[1]):
            failures.append(f"scan: no file for {rest[1]!r}")
        elif (not figures or figures[0] != 0 or figures != sorted(set(figures))
              or texts.index(rest[1]) < len(figures) + 1):
            failures.append(f"scan: progress {texts}")
        cases.append("scan")

        # What the test scanner can do: two units, each on a line of its own.
        status, lines, _ = run(example, qev, ["show", "--device", "test:0"], test_config)
        texts = [text for _, text in lines]
        want = ["flatbed: 200.0 x 200.0 mm, 1 to 1200 dpi, one side",
                "feeder: 200.0 x 200.0 mm, 1 to 1200 dpi, one side", "done", "exit status 0"]
        if status != 0 or texts != want:
            failures.append(f"show: status {status}, output {texts}")
        cases.append("show")
        # A caller's own time limit: a scan slower than TIMEOUT is cancelled, and its final
        # line still arrives. SANE's test scanner sends 64 bytes every 0.2 s here.
        slow = os.path.join(folder, "slow")
        os.mkdir(slow)
        changes = {"read-delay": "true", "read-delay-duration": "200000", "read-limit": "true",
                   "read-limit-size": "64"}
        with open(source / "tests" / "sane" / "test" / "test.conf", encoding="utf-8") as f:
            lines = [line.split(" ")[0] + " " + changes[line.split(" ")[0]] + "\n"
                     if line.split(" ")[0] in changes else line for line in f]
        with open(os.path.join(slow, "test.conf"), "w", encoding="utf-8") as f:
            f.writelines(lines)
        with open(os.path.join(slow, "dll.conf"), "w", encoding="utf-8") as f:
            f.write("test\n")
        status, lines, _ = run(example, qev, ["scan", "--device", "test:0", "--out", scans,
                                              "--source", "flatbed", "--dpi", "50"],
                               {"SANE_CONFIG_DIR": slow, "TIMEOUT": "1"})
        texts = [text for _, text in lines]
        want = ["scanning with Noname frontend-tester", "cancelled after 1 s", "exit status 1"]
        if status != 1 or texts != want:
            failures.append(f"timeout: status {status}, output {texts}")
        cases.append("timeout")

    for failure in failures:
        print(failure)
    print(f"{len(cases)} cases, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
