#!/usr/bin/env python3
"""nlconf-cli's help texts and its manual page fit a terminal of 80 columns.

Every help text (the whole usage and each command's) and the manual page as
`MANWIDTH=80 man -l` shows it: no line wider than 80 characters, and no
warning from the formatter.

    text_width_check.py NLCONF_CLI MANUAL_PAGE
"""
import os
import re
import shutil
import subprocess
import sys

WIDTH = 80


def too_wide(where, text):
    return [f"{where}, line {n}: {len(line)} columns: {line}"
            for n, line in enumerate(text.splitlines(), 1) if len(line) > WIDTH]


def helps(cli):
    def run(*args):
        return subprocess.run([cli, *args], capture_output=True, text=True, check=True).stdout
    usage = run("--help")
    texts = {"nlconf-cli --help": usage}
    for command in sorted(set(re.findall(r"^  nlconf-cli ([a-z][a-z-]*)", usage, re.M)) - {"help"}):
        texts[f"nlconf-cli {command} --help"] = run(command, "--help")
    return texts


def manual(page):
    if not shutil.which("man"):
        sys.exit("man is missing (scripts/setup.sh installs man-db)")
    env = dict(os.environ, MANWIDTH=str(WIDTH), LC_ALL="C.UTF-8", MAN_KEEP_FORMATTING="")
    env.pop("MANPAGER", None)
    env.pop("PAGER", None)
    shown = subprocess.run(["man", "--warnings", "-l", page], capture_output=True, text=True,
                           env=env, check=True)
    # Bold and underline as a terminal's overstrikes, where man leaves them.
    return re.sub(r".\x08", "", shown.stdout), shown.stderr.strip()


def main():
    cli, page = sys.argv[1:3]
    said = []
    texts = helps(cli)
    text, warnings = manual(page)
    if warnings:
        said.append(f"man -l {page} warns: {warnings}")
    texts[f"MANWIDTH={WIDTH} man -l {page}"] = text
    for where, text in texts.items():
        said += too_wide(where, text)
    for line in said:
        print(line)
    print(f"{len(texts)} texts, {len(said)} lines wider than {WIDTH} columns or warnings")
    sys.exit(1 if said else 0)


main()
