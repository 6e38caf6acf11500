#!/usr/bin/env python3
"""nlconf-cli's --json output: a claim about one, or each as the schema says.
    check_json.py claim FILE EXPRESSION [ARG...]  the expression, over the JSON
                                                  as `j` and the ARGs as `a`, holds
    check_json.py schema FILE.COMMAND...          each is the schema's output of
                                                  COMMAND (docs/cli/nlconf-cli.schema.json)"""
import json
import pathlib
import sys


def load(path):
    return json.loads(pathlib.Path(path).read_text(encoding="utf-8"))


if sys.argv[1] == "claim":
    j = load(sys.argv[2])
    sys.exit(0 if eval(sys.argv[3], {"j": j, "a": sys.argv[4:]}) else 1)

import jsonschema  # noqa: E402 (the import takes a while: once for all the files)

schema = load(pathlib.Path(__file__).resolve().parents[2] / "docs/cli/nlconf-cli.schema.json")
faults = 0
for path in sys.argv[2:]:
    command = path.rsplit(".", 1)[1]
    if command not in schema["$defs"]:
        sys.exit(f"the schema has no output of {command}")
    validator = jsonschema.Draft202012Validator({"$defs": schema["$defs"],
                                                 "$ref": f"#/$defs/{command}"})
    error = jsonschema.exceptions.best_match(validator.iter_errors(load(path)))
    if error:
        faults += 1
        print(f"{command}: {error.message} at {list(error.absolute_path)} in "
              f"{pathlib.Path(path).read_text(encoding='utf-8')}")
sys.exit(1 if faults else 0)
