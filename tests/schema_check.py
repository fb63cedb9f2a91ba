#!/usr/bin/python3
"""Checks event lines against docs/events.schema.json.

    schema_check.py SCHEMA PATH...

Each PATH is a file of event lines, or a folder whose *.jsonl files are read. Every line must
be UTF-8, one JSON object with integers written as integers, and valid under the schema.
Prints each invalid line with where it came from and exits 1 when there is one, or when no
line was read at all (an empty log means the lines were never recorded).
"""

import decimal
import json
import pathlib
import sys

import jsonschema


class LineError(Exception):
    pass


def _no_constant(name):
    raise LineError(f"{name} is not JSON that qev writes")


def _pairs(pairs):
    keys = [k for k, _ in pairs]
    if len(set(keys)) != len(keys):
        raise LineError("a member name appears twice")
    return dict(pairs)


class Checker:
    def __init__(self, schema_path):
        with open(schema_path, encoding="utf-8") as f:
            self.schema = json.load(f)
        jsonschema.Draft202012Validator.check_schema(self.schema)
        self.whole = jsonschema.Draft202012Validator(self.schema)
        # One validator per kind, so that a bad line is explained by its own branch rather
        # than by "not valid under any of the given schemas".
        self.kinds = {}
        for name in self.schema["$defs"]:
            branch = {"$ref": f"#/$defs/{name}", "$defs": self.schema["$defs"]}
            self.kinds[name] = jsonschema.Draft202012Validator(branch)

    def problem(self, raw):
        """Returns why the line (bytes, without its line feed) is invalid, or None."""
        try:
            text = raw.decode("utf-8")
            # Fractions and exponents become decimals, which are numbers but never integers,
            # so that the schema refuses them where it wants an integer (draft 2020-12 would
            # take the float 1.0 as one).
            event = json.loads(text, parse_float=decimal.Decimal, parse_constant=_no_constant,
                               object_pairs_hook=_pairs)
        except (UnicodeDecodeError, ValueError, LineError) as e:
            return str(e)
        if self.whole.is_valid(event):
            return None
        kind = event.get("event") if isinstance(event, dict) else None
        validator = self.kinds.get(kind) if isinstance(kind, str) and kind != "message" else None
        if validator is None:
            return f"unknown event kind {kind!r}"
        best = jsonschema.exceptions.best_match(validator.iter_errors(event))
        return best.message if best is not None else "not valid"


def files(paths):
    for p in map(pathlib.Path, paths):
        if p.is_dir():
            yield from sorted(p.glob("*.jsonl"))
        elif p.exists():
            yield p


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    checker = Checker(argv[1])
    lines = bad = 0
    for path in files(argv[2:]):
        for number, raw in enumerate(path.read_bytes().splitlines(), 1):
            lines += 1
            why = checker.problem(raw)
            if why is not None:
                bad += 1
                print(f"{path}:{number}: {why}\n    {raw!r}")
    print(f"{lines} event lines checked, {bad} invalid")
    if lines == 0:
        print("no event lines found: the end-to-end tests record them as they run")
        return 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
