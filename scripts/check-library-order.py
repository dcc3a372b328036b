#!/usr/bin/env python3
"""Fails when the link graph of the project's own libraries has a cycle.

Reads the graph CMake writes with --graphviz (one file for the whole build):

    cmake --graphviz=build/graph/libs.dot build
    scripts/check-library-order.py build/graph/libs.dot [--sources .]

Only the libraries the project builds (static, shared and module libraries
without a '::' or a path in their name) are looked at; a target's edge to
itself (CMake draws one for some executables' own build steps) is not a link. Without a
cycle it prints the libraries level by level, lowest first, and exits 0; with
one it prints the libraries of each cycle and exits 1.

With --sources (the source root), the folders must tell the same order: every library is one top-level folder
(FOLDERS below), and a source of one folder includes headers only from its own
folder and from the folders of the libraries it links. An include that reaches
into another folder fails the check too.
"""
import os
import re
import sys

# Top-level folder -> the library built from it.
FOLDERS = {
    "platform": "platform",
    "resize": "zrnrslibW7",
    "muxlib": "muxlib",
    "settings": "settings",
    "engine": "engine",
    "audio": "audio",
    "mux": "mux",
    "job": "job",
    "app": "app",
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_]+)/')

NODE = re.compile(r'^\s*"(node\d+)"\s*\[\s*label\s*=\s*"([^"]*)"\s*,\s*shape\s*=\s*(\w+)')
EDGE = re.compile(r'^\s*"(node\d+)"\s*->\s*"(node\d+)"')
OWN_SHAPES = {"octagon", "doubleoctagon", "tripleoctagon"}


def read_graph(path):
    names, edges = {}, []
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = NODE.match(line)
            if m:
                node, label, shape = m.groups()
                label = label.split("\\n")[0]  # "zrnrslibW7\n(zrnrslib)": the target, not its alias
                if shape in OWN_SHAPES and "::" not in label and "/" not in label:
                    names[node] = label
                continue
            m = EDGE.match(line)
            if m:
                edges.append(m.groups())
    graph = {name: set() for name in names.values()}
    for a, b in edges:
        if a in names and b in names and a != b:
            graph[names[a]].add(names[b])
    return graph


def cycles(graph):
    """The strongly connected parts with more than one member."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph[v]):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            part = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                part.append(w)
                if w == v:
                    break
            if len(part) > 1:
                found.append(sorted(part))

    sys.setrecursionlimit(10000)
    for v in sorted(graph):
        if v not in index:
            visit(v)
    return found


def levels(graph):
    """Level 0 links nothing of ours; every other library sits one above the highest it links."""
    level = {}

    def of(v):
        if v not in level:
            level[v] = 1 + max((of(w) for w in graph[v]), default=-1)
        return level[v]

    for v in graph:
        of(v)
    rows = {}
    for v, n in level.items():
        rows.setdefault(n, []).append(v)
    return [sorted(rows[n]) for n in sorted(rows)]


def reachable(graph, start):
    seen, todo = set(), [start]
    while todo:
        v = todo.pop()
        for w in graph.get(v, ()):
            if w not in seen:
                seen.add(w)
                todo.append(w)
    return seen


def folder_violations(graph, root):
    """Includes that reach into the folder of a library the including one does not link."""
    found = []
    for folder, lib in sorted(FOLDERS.items()):
        below = reachable(graph, lib) | {lib}
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, folder)):
            dirnames.sort()
            for name in sorted(filenames):
                if not name.endswith((".cpp", ".h")):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m or m.group(1) == folder or m.group(1) not in FOLDERS:
                            continue
                        if FOLDERS[m.group(1)] not in below:
                            rel = os.path.relpath(path, root)
                            found.append(f"{rel}:{number}: {folder} ({lib}) includes from "
                                         f"{m.group(1)}/, whose library it does not link")
    return found


def main(argv):
    root = None
    if len(argv) == 4 and argv[2] == "--sources":
        root = argv[3]
    elif len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    graph = read_graph(argv[1])
    if not graph:
        print(f"{argv[1]}: no targets found", file=sys.stderr)
        return 2
    found = cycles(graph)
    if found:
        for part in found:
            print("library cycle: " + " <-> ".join(part), file=sys.stderr)
        return 1
    missing, wrong = [], []
    if root is not None:
        missing = [f for f in FOLDERS if not os.path.isdir(os.path.join(root, f))]
        wrong = folder_violations(graph, root)
    for f in missing:
        print(f"library folder missing: {f}/", file=sys.stderr)
    for line in wrong:
        print(line, file=sys.stderr)
    if missing or wrong:
        return 1
    for n, row in enumerate(levels(graph)):
        print(f"{n}: {' '.join(row)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
