#!/usr/bin/env python3
"""The product's files include each other without a circle, and layers point down.

A file and its header are one node (ui/memory.h and ui/memory.cpp are
"ui/memory"), and so is a private header its files share (x_internal.h is
node "x"); a #include "..." line is an edge. A circle among nodes means
no file of it can be read, built or changed on its own. Beside that, ui/
and cli/ never include each other, and link/, module/ and runner/ include
neither: the runner serves the dialog, not the other way round.

    include_graph_check.py SOURCE_DIR
"""
import pathlib
import re
import sys

PRODUCT = ("app", "link", "module", "runner", "ui", "cli", "platform")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
# (including layer, included layer) pairs that must not occur.
FORBIDDEN = {("ui", "cli"), ("cli", "ui"), ("link", "ui"), ("link", "cli"), ("module", "ui"),
             ("module", "cli"), ("runner", "ui"), ("runner", "cli")}


def product_files(source):
    for layer in PRODUCT:
        for path in sorted((source / layer).rglob("*")):
            if path.suffix in (".h", ".cpp"):
                yield path.relative_to(source)


def node_of(path):
    node = path.with_suffix("").as_posix()
    return node.removesuffix("_internal") if path.suffix == ".h" else node


def included_files(source, path):
    """The product files that path's #include "..." lines name."""
    for name in INCLUDE.findall((source / path).read_text(encoding="utf-8")):
        for candidate in (pathlib.Path(name), path.parent / name):
            if candidate.parts and candidate.parts[0] in PRODUCT and (source / candidate).is_file():
                yield candidate
                break


def read_graph(source):
    """node -> nodes it includes, node -> its files, and the layer breaches."""
    edges, files, breaches = {}, {}, []
    for path in product_files(source):
        node = node_of(path)
        files.setdefault(node, []).append(path.as_posix())
        edges.setdefault(node, set())
        for included in included_files(source, path):
            if (path.parts[0], included.parts[0]) in FORBIDDEN:
                breaches.append(f"{path.as_posix()} includes {included.as_posix()}")
            if node_of(included) != node:
                edges[node].add(node_of(included))
    return edges, files, breaches


def circles(edges):
    """The strongly connected groups of more than one node (Tarjan's)."""
    index, low, stack, on_stack, groups = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for near in sorted(edges.get(node, ())):
            if near not in index:
                visit(near)
                low[node] = min(low[node], low[near])
            elif near in on_stack:
                low[node] = min(low[node], index[near])
        if low[node] == index[node]:
            group = []
            while True:
                top = stack.pop()
                on_stack.discard(top)
                group.append(top)
                if top == node:
                    break
            if len(group) > 1:
                groups.append(sorted(group))

    sys.setrecursionlimit(10000)
    for node in sorted(edges):
        if node not in index:
            visit(node)
    return groups


def one_circle(edges, group):
    """A path round the group from its first node back to it."""
    members, start = set(group), group[0]
    path, seen = [start], {start}

    def walk(node):
        for near in sorted(edges[node] & members):
            if near == start:
                return True
            if near not in seen:
                seen.add(near)
                path.append(near)
                if walk(near):
                    return True
                path.pop()
        return False

    walk(start)
    return path + [start]


def main(source):
    source = pathlib.Path(source)
    edges, files, breaches = read_graph(source)
    problems = breaches[:]
    in_circles = 0
    for group in circles(edges):
        in_circles += sum(len(files[node]) for node in group)
        problems.append(f"circle of {len(group)} nodes: " + " -> ".join(one_circle(edges, group)) +
                        " (all of them: " + ", ".join(group) + ")")
    if in_circles:
        problems.append(f"{in_circles} files in circles")
    return problems


if __name__ == "__main__":
    problems = main(sys.argv[1])
    for problem in problems:
        print(problem)
    sys.exit(1 if problems else 0)
