#!/usr/bin/env python3
"""Validates what the support check printed against docs/check.schema.json.

  validate_check_json.py FILE...

Each non-empty line of each FILE is one answer of TavuRecoveryCheck or of
tavu-sim check (--json, --summary, or the error object). A line passes when it
is ASCII only, parses as one JSON object, validates against the schema (draft
2020-12, python3-jsonschema), and, as a summary, is at most 512 characters.
Prints one line per failure; exit status 1 when any line failed, 0 otherwise."""
import json
import os
import sys

import jsonschema

SCHEMA = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "docs", "check.schema.json")


def problems(line, validator):
    try:
        text = line.decode("ascii")
    except UnicodeDecodeError as e:
        return ["byte 0x%02x at column %d is not ASCII" % (line[e.start], e.start + 1)]
    try:
        value = json.loads(text)
    except ValueError as e:
        return ["not JSON: %s" % e]
    found = ["%s: %s" % ("/".join(map(str, err.absolute_path)) or "(top)", err.message)
             for err in validator.iter_errors(value)]
    # oneOf names only the branch it tried last: ask the branch the line means.
    if found and isinstance(value, dict):
        branch = "error" if value.get("verdict") == "error" else "summary" if "win32_error" in value else "report"
        sub = jsonschema.Draft202012Validator({"$ref": "#/$defs/" + branch, "$defs": validator.schema["$defs"]})
        found = ["%s: %s" % ("/".join(map(str, err.absolute_path)) or "(top)", err.message)
                 for err in sub.iter_errors(value)] or found
    if isinstance(value, dict) and "win32_error" in value and len(text) > 512:
        found.append("a summary of %d characters, more than 512" % len(text))
    return found


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    schema = json.load(open(SCHEMA))
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    failed = lines = 0
    for path in sys.argv[1:]:
        with open(path, "rb") as f:
            for number, line in enumerate(f.read().split(b"\n"), 1):
                line = line.rstrip(b"\r")
                if not line.strip():
                    continue
                lines += 1
                for p in problems(line, validator):
                    failed += 1
                    print("%s:%d: %s" % (path, number, p))
    if lines == 0:
        print("no answer to validate in %s" % " ".join(sys.argv[1:]))
        return 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
