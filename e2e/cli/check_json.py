#!/usr/bin/env python3
"""nlconf-cli's --json output against the schema in docs/cli, then a claim.

    check_json.py FILE COMMAND [EXPRESSION [ARG...]]

COMMAND names the schema's $defs entry ("read", "pair", ...); "any" takes
the schema whole. EXPRESSION, a Python expression over the JSON as `j` and
the ARGs as `a`, must hold too.
"""
import json
import pathlib
import sys

import jsonschema

SCHEMA = pathlib.Path(__file__).resolve().parents[2] / "docs/cli/nlconf-cli.schema.json"


def main():
    path, command, claim = sys.argv[1], sys.argv[2], sys.argv[3:4]
    schema = json.loads(SCHEMA.read_text(encoding="utf-8"))
    if command != "any":
        if command not in schema["$defs"]:
            sys.exit(f"the schema has no output of {command}")
        schema = {"$defs": schema["$defs"], "$ref": f"#/$defs/{command}"}
    try:
        j = json.loads(pathlib.Path(path).read_text(encoding="utf-8"))
    except ValueError as e:
        sys.exit(f"no JSON: {e}")
    error = jsonschema.exceptions.best_match(
        jsonschema.Draft202012Validator(schema).iter_errors(j))
    if error:
        sys.exit(f"not as the schema says ({command}): {error.message} at {list(error.absolute_path)}")
    a = sys.argv[4:]
    if claim and not eval(claim[0], {"j": j, "a": a}):
        sys.exit(1)


main()
