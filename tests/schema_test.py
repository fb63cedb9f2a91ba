#!/usr/bin/python3
"""Proves that docs/events.schema.json (through schema_check.py) takes every kind of event
line qev writes and refuses lines that are wrong in the ways a caller would trip over.

    schema_test.py SCHEMA MANUAL_PAGE README

It also checks that the manual page lists every message the schema allows, and that the
manual page and the README both name every error code.
"""

import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import schema_check  # noqa: E402

VALID = [
    rb'{"event":"device","id":"test:0","name":"Noname frontend-tester","transport":"virtual","feeder":true,"flatbed":true}',
    rb'{"flatbed":false,"feeder":false,"transport":"","name":"Scanner","id":"","event":"device"}',
    rb'{"event":"device","id":"net:127.0.0.1:test:0","name":"Caf\u00e9 \"A\"","transport":"network","feeder":true,"flatbed":false}',
    rb'{"event":"opened","name":""}',
    rb'{"event":"page","file":"\/tmp\/out\/QEV_20250103_140509_0003.jpg","n":3}',
    rb'{"n":12345,"file":"out\/QEV_20250103_140509_12345.jpg","event":"page"}',
    rb'{"event":"page","file":"out\/.qev-incoming\/qev-incoming-0001.jpg","n":1}',
    rb'{"event":"page","file":"QEV_20250103_140509_0001.jpg.part","n":1}',
    rb'{"event":"page","file":"QEV_20250103_140509_0001.jpg.12.part","n":1}',
    rb'{"event":"done"}',
    rb'{"event":"done","pages":0}',
    rb'{"event":"error","code":"usage","message":"Use list, scan or simulate."}',
    rb'{"message":"Name a folder with --out.","code":"usage","event":"error"}',
    rb'{"event":"error","code":"io_error","message":"The scan stopped: "}',
    rb'{"event":"error","code":"jammed","message":"The scan stopped: Document feeder jammed"}',
    rb'{"event":"error","code":"busy","message":"The scanner did not open: Device busy"}',
    rb'{"event":"error","code":"busy","message":"The scanner did not take the settings: Device busy"}',
    rb'{"event":"error","code":"feeder_empty","message":"The scan stopped: Operation was canceled"}',
    rb'{"event":"error","code":"cancelled","message":"The scan stopped: Operation was canceled"}',
    rb'{"event":"error","code":"disk_full","message":"Could not write a test page: No space left on device"}',
    rb'{"event":"error","code":"disk_full","message":"The output folder cannot be used: Disk quota exceeded"}',
    rb'{"event":"error","code":"folder_unusable","message":"The output folder cannot be used: Read-only file system"}',
    '{"event":"error","code":"driver_stopped","message":"The scan stopped: The scanner\'s driver stopped unexpectedly (Aborted)."}'.encode(),
    '{"event":"error","code":"driver_stopped","message":"The scanner did not open: The scanner\'s driver is not running."}'.encode(),
    rb'{"event":"error","code":"write_failed","message":"Could not write a test page: Permission denied"}',
    rb'{"event":"error","code":"not_answering","message":"The scan stopped: The scanner stopped answering."}',
    '{"event":"error","code":"driver_missing","message":"The scanner\'s driver did not start: there is no executable qev-host at \\/opt\\/qev\\/bin\\/qev-host or \\/opt\\/qev\\/libexec\\/qev\\/qev-host."}'.encode(),
    '{"event":"error","code":"driver_missing","message":"The scanner\'s driver did not start: \\/opt\\/qev\\/bin\\/qev-host ended at once (exit status 127)."}'.encode(),
    '{"event":"opened","name":"Caf\u00e9 \u2603"}'.encode("utf-8"),
    rb'{"event":"unit","unit":"flatbed","width_mm":215.9,"height_mm":297.2,"dpi_min":75,"dpi_max":1200,"dpi":[75,150,300,600,1200],"duplex":false}',
    rb'{"event":"unit","unit":"feeder","width_mm":200.0,"height_mm":355.6,"dpi_min":1,"dpi_max":1200,"duplex":true}',
    rb'{"duplex":false,"height_mm":0.0,"width_mm":0.0,"unit":"feeder","event":"unit"}',
    rb'{"event":"progress","n":3,"percent":42}',
    rb'{"event":"progress","n":1,"percent":0}',
    rb'{"event":"progress","n":1,"percent":100}',
    rb'{"event":"progress","n":2,"lines":1200}',
    rb'{"event":"error","code":"usage","message":"Name a scanner with --device."}',
    '{"event":"error","code":"driver_stopped","message":"The scanner did not take the settings: The scanner\'s driver stopped unexpectedly (Killed)."}'.encode(),
]

INVALID = [
    (rb'{"event":"device","id":"test:0","name":"x","transport":"virtual","feeder":true}', "missing flatbed"),
    (rb'{"event":"device","id":"test:0","name":"x","transport":"virtual","feeder":1,"flatbed":0}', "1 and 0 for Booleans"),
    (rb'{"event":"device","id":"test:0","name":"x","transport":"bluetooth","feeder":true,"flatbed":true}', "unknown transport"),
    (rb'{"event":"opened"}', "opened without name"),
    (rb'{"event":"opened","name":"x","pages":1}', "a member of another kind"),
    (rb'{"event":"page","file":"a.jpg","n":0}', "page 0"),
    (rb'{"event":"page","file":"a.jpg","n":"1"}', "number as text"),
    (rb'{"event":"page","file":"a.jpg","n":1.0}', "number with a fraction"),
    (rb'{"event":"page","file":"a.jpg","n":1e0}', "number with an exponent"),
    (rb'{"event":"page","file":"a.png","n":1}', "not a JPEG name"),
    (rb'{"event":"page","file":"a.jpg.x.part","n":1}', "not a partial file"),
    (rb'{"event":"page","n":1}', "page without file"),
    (rb'{"event":"done","pages":-1}', "negative count"),
    (rb'{"event":"done","pages":null}', "null"),
    (rb'{"event":"error"}', "error without message"),
    (rb'{"event":"error","message":"Use list, scan or simulate."}', "error without code"),
    (rb'{"event":"error","code":"usage","message":"Something broke."}', "a message qev never writes"),
    (rb'{"event":"error","code":"io_error","message":"The scan stopped"}', "a prefix without its colon"),
    (rb'{"event":"error","code":"paper_out","message":"The scan stopped: Document feeder out of documents"}', "a code qev never writes"),
    (rb'{"event":"error","code":"USAGE","message":"Use list, scan or simulate."}', "a code in capitals"),
    (rb'{"event":"error","code":7,"message":"The scan stopped: Document feeder jammed"}', "a code as a number"),
    (rb'{"event":"error","code":"jammed","message":"Use list, scan or simulate."}', "a code with another code's message"),
    (rb'{"event":"error","code":"io_error","message":"The scanner did not open: Error during device I/O"}', "a scan's code on an open's message"),
    (rb'{"event":"error","code":"disk_full","message":"The scan stopped: Permission denied"}', "a full disk that is none"),
    (rb'{"event":"error","code":"cancelled","message":"The scan stopped: Document feeder jammed"}', "a cancel that is none"),
    (rb'{"event":"scanning","n":1}', "unknown kind"),
    (rb'{"event":"progress","n":1}', "progress without a figure"),
    (rb'{"event":"progress","n":1,"percent":5,"lines":9}', "progress with both figures"),
    (rb'{"event":"progress","n":1,"percent":101}', "more than 100 percent"),
    (rb'{"event":"progress","n":1,"percent":4.5}', "a percent with a fraction"),
    (rb'{"event":"progress","n":0,"lines":3}', "progress of page 0"),
    (rb'{"event":"unit","unit":"flatbed","width_mm":215.9,"height_mm":297.2,"duplex":true}', "a flatbed with duplex"),
    (rb'{"event":"unit","unit":"adf","width_mm":215.9,"height_mm":297.2,"duplex":false}', "an unknown unit"),
    (rb'{"event":"unit","unit":"feeder","width_mm":"215.9","height_mm":297.2,"duplex":false}', "a size as text"),
    (rb'{"event":"unit","unit":"feeder","width_mm":215.9,"height_mm":297.2,"dpi_min":75,"duplex":false}', "a lowest resolution without a highest"),
    (rb'{"event":"unit","unit":"feeder","width_mm":215.9,"height_mm":297.2,"dpi":[75],"duplex":false}', "a list without its bounds"),
    (rb'{"event":"unit","unit":"feeder","width_mm":215.9,"height_mm":297.2,"dpi_min":75,"dpi_max":150,"dpi":[75,150.0],"duplex":false}', "a resolution with a fraction"),
    (rb'{"event":"unit","unit":"feeder","width_mm":215.9,"duplex":false}', "a unit without its height"),
    ('{"event":"error","code":"io_error","message":"The scanner did not take the settings: The scanner\'s driver stopped unexpectedly (Killed)."}'.encode(), "a driver's end with another code"),
    (rb'{"event":"error","code":"not_answering","message":"The scan stopped: Error during device I/O"}', "a limit that is none"),
    ('{"event":"error","code":"driver_missing","message":"The scan stopped: The scanner\'s driver stopped unexpectedly (Killed)."}'.encode(), "a driver that did start"),
    (rb'{"n":1}', "no event member"),
    (rb'{"event":"done","event":"done"}', "a member twice"),
    (rb'["done"]', "not an object"),
    (rb'{"event":"done"', "not JSON"),
    (rb'{"event":"done","pages":NaN}', "NaN"),
    (b'{"event":"opened","name":"\xff"}', "not UTF-8"),
]


def main(argv):
    checker = schema_check.Checker(argv[1])
    failures = 0
    for line in VALID:
        why = checker.problem(line)
        if why is not None:
            failures += 1
            print(f"refused a valid line: {line!r}: {why}")
    for line, case in INVALID:
        if checker.problem(line) is None:
            failures += 1
            print(f"took an invalid line ({case}): {line!r}")
    print(f"{len(VALID)} valid and {len(INVALID)} invalid lines, {failures} wrong answers")

    with open(argv[2], encoding="utf-8") as f:
        page = f.read().replace("\\-", "-")
    allowed = checker.schema["$defs"]["message"]["anyOf"]
    messages = list(allowed[0]["enum"])
    prefixes = allowed[1]["pattern"].removeprefix("^(").removesuffix("): ").split("|")
    messages += [prefix + ": " for prefix in prefixes]
    for message in messages:
        if message not in page:
            failures += 1
            print(f"the manual page does not list {message!r}")

    with open(argv[3], encoding="utf-8") as f:
        readme = f.read()
    codes = [branch["properties"]["code"]["const"]
             for branch in checker.schema["$defs"]["error"]["oneOf"]]
    for code in codes:
        if f"\n.B {code}\n" not in page:
            failures += 1
            print(f"the manual page does not list the code {code!r}")
        if f"| `{code}` |" not in readme:
            failures += 1
            print(f"the README does not list the code {code!r}")
    print(f"{len(codes)} codes")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
