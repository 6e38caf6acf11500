#!/usr/bin/env python3
"""Every help text of nlconf-cli, and its manual page as `MANWIDTH=80 man -l`
shows it, fit 80 columns; man has no warning.   text_width_check.py CLI PAGE"""
import os
import re
import subprocess
import sys

cli, page = sys.argv[1:3]
run = lambda *args, **kw: subprocess.run(args, capture_output=True, text=True, check=True, **kw)
usage = run(cli, "--help").stdout
texts = {"nlconf-cli --help": usage}
for command in set(re.findall(r"^  nlconf-cli ([a-z][a-z-]*)", usage, re.M)) - {"help"}:
    texts[f"nlconf-cli {command} --help"] = run(cli, command, "--help").stdout
env = {k: v for k, v in os.environ.items() if k not in ("PAGER", "MANPAGER")}
man = run("man", "--warnings", "-l", page, env=dict(env, MANWIDTH="80", LC_ALL="C.UTF-8"))
texts["man -l " + page] = re.sub(r".\x08", "", man.stdout)  # overstruck bold, if kept
said = [f"man warns: {man.stderr.strip()}"] if man.stderr.strip() else []
for where, text in texts.items():
    said += [f"{where}, line {n}: {len(line)} columns: {line}"
             for n, line in enumerate(text.splitlines(), 1) if len(line) > 80]
print("\n".join(said + [f"{len(texts)} texts, {len(said)} faults"]))
sys.exit(1 if said else 0)
