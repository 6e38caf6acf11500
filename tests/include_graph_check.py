#!/usr/bin/env python3
"""The product's files include each other without a circle, and layers point down.

A file and its header are one node (ui/dialog/memory.h and ui/dialog/memory.cpp
are "ui/dialog/memory"), and so is a private header its files share (x_internal.h is
node "x"); a #include "..." line is an edge, and so is including a
header that declares functions another file defines (ui/b.h declaring
some of ui/a.cpp's): an edge to that file too. A circle among
nodes means no file of it can be read, built or changed on its own. Beside that, ui/
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


COMMENT = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"', re.S)
NAME_BEFORE_PAREN = re.compile(r'(?<![\w:~])([A-Za-z_]\w*)\s*\(')


def top_level_statements(text):
    """(statement, ends) for each statement outside every brace but a named
    namespace's: ends is ';' for a declaration, '{' for a definition."""
    text = re.sub(r'^\s*#[^\n]*(\\\n[^\n]*)*', '', COMMENT.sub(' ', text), flags=re.M)
    depth, hidden, start = 0, [], 0
    for i, c in enumerate(text):
        if c == '{':
            head = text[start:i]
            opens_namespace = re.search(r'\bnamespace\s+\w+(::\w+)*\s*$', head) is not None
            if depth == 0 and not opens_namespace:
                yield head.strip(), '{'
            hidden.append(not opens_namespace)
            depth += hidden[-1]
            start = i + 1
        elif c == '}':
            depth -= hidden.pop() if hidden else 0
            start = i + 1
        elif c == ';':
            if depth == 0:
                yield text[start:i].strip(), ';'
            start = i + 1


def function_name(statement):
    if re.match(r'(using|typedef|static|struct|class|enum|template|extern\s+"C")\b', statement):
        return None
    found = NAME_BEFORE_PAREN.search(statement)
    if not found or found.group(1) in ("decltype", "alignas", "operator") or '=' in statement[:found.start()]:
        return None
    return found.group(1)


def functions(source, path, ends):
    names = set()
    for statement, end in top_level_statements((source / path).read_text(encoding="utf-8")):
        if end == ends:
            name = function_name(statement)
            if name:
                names.add(name)
    return names


def included_files(source, path):
    """The product files that path's #include "..." lines name."""
    for name in INCLUDE.findall((source / path).read_text(encoding="utf-8")):
        for candidate in (pathlib.Path(name), path.parent / name):
            if candidate.parts and candidate.parts[0] in PRODUCT and (source / candidate).is_file():
                yield candidate
                break


def definers(source, paths):
    """header -> {function it declares: the file that defines it}. Only a
    header with a file of its own (x.h and x.cpp) counts: one without is a
    seam, and which file defines it is the build's choice (the platform's,
    the test rig's)."""
    own = {node_of(path) for path in paths if path.suffix == ".cpp"}
    declared = {path: functions(source, path, ';') for path in paths
                if path.suffix == ".h" and node_of(path) in own}
    found = {}
    for path in paths:
        if path.suffix != ".cpp":
            continue
        defined = functions(source, path, '{')
        for header in included_files(source, path):
            for name in declared.get(header, set()) & defined:
                found.setdefault(header, {})[name] = path
    return found


def called_names(source, path):
    return set(NAME_BEFORE_PAREN.findall(COMMENT.sub(' ', (source / path).read_text(encoding="utf-8"))))


def include_edges(path, header, defined_by, calls):
    """The nodes that path's #include of header makes it depend on: the
    header's, and each other file whose functions it declares and path
    calls. A file that defines some of them includes it for those alone
    unless it calls the header's own too."""
    node, theirs = node_of(path), defined_by.get(header, {})
    others = {node_of(d) for name, d in theirs.items() if name in calls and node_of(d) != node}
    defines_some = any(node_of(d) == node for d in theirs.values())
    uses_own = any(name in calls for name, d in theirs.items() if node_of(d) == node_of(header))
    if not defines_some or uses_own:
        others.add(node_of(header))
    return others - {node}


def read_graph(source):
    """node -> nodes it includes, node -> its files, and the layer breaches."""
    paths = list(product_files(source))
    defined_by = definers(source, paths)
    edges, files, breaches = {}, {}, []
    for path in paths:
        node = node_of(path)
        files.setdefault(node, []).append(path.as_posix())
        edges.setdefault(node, set())
        calls = called_names(source, path)
        for included in included_files(source, path):
            if (path.parts[0], included.parts[0]) in FORBIDDEN:
                breaches.append(f"{path.as_posix()} includes {included.as_posix()}")
            edges[node] |= include_edges(path, included, defined_by, calls)
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
