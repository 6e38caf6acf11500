#!/usr/bin/env python3
"""The completion as a person meets it: keys typed into an interactive bash
with readline, Tab pressed, and the word on the line read back as bash
parses it. Calling the completion function alone would miss what readline
does with its replies (a dangling backslash, a space it deletes)."""
import os
import pty
import re
import select
import sys
import time

COMPLETION = sys.argv[1] if len(sys.argv) > 1 else "packaging/nlconf-cli.bash"
LINE = "nlconf-cli write P "
# typed after LINE, then Tab; the word bash then parses from the line
CASES = [
    ("--role slave --set Po", "Power "),
    ("--role slave --set Power\\ ", "Power "),
    ("--role slave --set Power\\ L", "Power Level="),
    ('--role slave --set "Power L', "Power Level="),
    ("--role slave --set Boost\\ Mode=E", "Boost Mode=Enable"),
    ("--role slave --set Stop\\ Bits=T", "Stop Bits=Two Stop Bits"),
    ("--role slave --set Power\\ Level=Hi", "Power Level=High"),
    # an option's value after "=" in the same word
    ("--baud=96", "--baud=9600"),
    ("--role=m", "--role=master"),
    ('--role=slave --set="Power L', "--set=Power Level="),
    ("--role=slave --set=Power\\ Level=Hi", "--set=Power Level=High"),
]


def read_until(fd, pattern, limit=60.0):
    """Output up to the first match of pattern: bash's own answer, however
    long a busy machine takes to give it."""
    out, end = b"", time.time() + limit
    while time.time() < end:
        found = re.findall(pattern, out.decode(errors="replace"))
        if found:
            return found
        ready, _, _ = select.select([fd], [], [], 0.1)
        if ready:
            try:
                out += os.read(fd, 4096)
            except OSError:
                break
    return []


def words_after_tab(cases):
    pid, fd = pty.fork()
    if pid == 0:
        os.execvp("bash", ["bash", "--norc", "--noprofile", "-i"])
    words = []
    try:
        os.write(fd, ("PS1='$ '; source /usr/share/bash-completion/bash_completion;"
                      " source %s; echo REA''DY\n" % COMPLETION).encode())
        read_until(fd, r"READY\r?\n")
        for typed, _ in cases:
            # Readline completes the Tab before it takes the keys after it.
            os.write(fd, (LINE + typed + "\t").encode())
            # Close a quote the case opened, then print the last word between marks.
            closing = '"' if typed.count('"') % 2 else ""
            os.write(fd, ("%s\x01set -- \x05; printf '<%%s>\\n' \"${@: -1}\"\n" % closing).encode())
            found = read_until(fd, r"<([^<>\r\n]*)>\r?\n")
            words.append(found[-1] if found else None)
    finally:
        os.kill(pid, 9)
        os.waitpid(pid, 0)
    return words


def main():
    failed = 0
    for (typed, want), got in zip(CASES, words_after_tab(CASES)):
        if got != want:
            print("%s<Tab> leaves %r on the line, not %r" % (typed, got, want))
            failed += 1
    print("completion: %d of %d cases as typed in bash" % (len(CASES) - failed, len(CASES)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
