#!/usr/bin/env python3
"""The exit codes as nlconf-cli's help, its manual page and the manuals say them.

The manual page is the reference. Every help text (the whole usage and each
command's) and every listing in README.md or docs/ must give the same codes
with meanings that start with the same words; a script author reads any of
them. A listing is a block of text (paragraph, list item, table, code block)
whose items "N meaning", each after a separator, include 0, 1, 2 and 3.

    exit_codes_check.py NLCONF_CLI SOURCE_DIR
"""
import pathlib
import re
import subprocess
import sys


def first_words(meaning):
    """The meaning's first two words, up to its first punctuation, lower case."""
    head = re.split(r"[,;:.()]", meaning, maxsplit=1)[0]
    return " ".join(head.lower().split()[:2])


def roff_text(line):
    line = re.sub(r"^\.(B|I|BR|RB|IR|RI|BI|IB)\s+", "", line)
    line = re.sub(r"\\f[BIRP]|\\&|\\c", "", line)
    line = re.sub(r"\\\((lq|rq)", '"', line)
    return line.replace("\\-", "-")


def manual_codes(page):
    section = page.split(".SH EXIT STATUS", 1)[1].split("\n.SH ", 1)[0]
    codes = {}
    for item in section.split(".TP\n")[1:]:
        lines = item.strip().splitlines()
        code = re.fullmatch(r"\.B (\d+)", lines[0])
        if code:
            text = " ".join(roff_text(l) for l in lines[1:] if not l.startswith(".PP"))
            codes[int(code.group(1))] = first_words(text)
    return codes


def help_codes(text):
    block = text.split("Exit codes:\n", 1)[1] if "Exit codes:\n" in text else ""
    codes = {}
    for line in block.split("\n\n", 1)[0].splitlines():
        item = re.match(r"\s+(\d+)\s+(\S.*)", line)
        if item:
            codes[int(item.group(1))] = first_words(item.group(2))
    return codes


ITEM = re.compile(r"(?:^|[,;:|\n])[ \t]*(?:[-*][ \t]+)?(\d{1,3}):?[ \t]+([A-Za-z][^,;|\n]*)", re.M)


def listings(markdown):
    """Each listing of exit codes in a Markdown text, as {code: first words}."""
    text = markdown.replace("`", "").replace("**", "")
    blocks = re.split(r"\n[ \t]*\n|\n(?=[ \t]*[-*] )", text)
    found = []
    for block in blocks:
        if not block.lstrip().startswith("```"):  # prose: its lines are one text
            block = " ".join(block.split())
        codes = {}
        for code, meaning in ITEM.findall(block):
            codes.setdefault(int(code), first_words(meaning))
        if {0, 1, 2, 3} <= codes.keys():
            found.append(codes)
    return found


def differences(where, codes, reference):
    said = []
    for code in sorted(reference.keys() | codes.keys()):
        if code not in codes:
            said.append(f"{where}: no {code} ({reference[code]})")
        elif code not in reference:
            said.append(f"{where}: {code} ({codes[code]}) is no code of the manual page")
        elif codes[code] != reference[code]:
            said.append(f'{where}: {code} is "{codes[code]}", the manual page "{reference[code]}"')
    return said


def main(cli, source):
    source = pathlib.Path(source)
    reference = manual_codes((source / "packaging/nlconf-cli.1").read_text(encoding="utf-8"))
    if len(reference) < 5 or 0 not in reference:
        return [f"the manual page's EXIT STATUS gave only {reference}"]
    usage = subprocess.run([cli, "--help"], capture_output=True, text=True, check=True).stdout
    commands = re.findall(r"^  nlconf-cli ([a-z][a-z-]*)", usage, re.M)
    helps = {"nlconf-cli --help": usage}
    for command in sorted(set(commands) - {"help"}):
        helps[f"nlconf-cli help {command}"] = subprocess.run(
            [cli, "help", command], capture_output=True, text=True, check=True).stdout
    said = []
    for where, text in helps.items():
        said += differences(where, help_codes(text), reference)
    docs = [source / "README.md"] + sorted((source / "docs").rglob("*.md"))
    for path in docs:
        for codes in listings(path.read_text(encoding="utf-8")):
            said += differences(str(path.relative_to(source)), codes, reference)
    return said


if __name__ == "__main__":
    problems = main(*sys.argv[1:3])
    for problem in problems:
        print(problem)
    sys.exit(1 if problems else 0)
