#!/usr/bin/env python3
"""Fails when the link graph of the project's own libraries has a cycle.

Reads the graph CMake writes with --graphviz (one file for the whole build):

    cmake --graphviz=build/graph/libs.dot build
    scripts/check-library-order.py build/graph/libs.dot

Only the libraries the project builds (static, shared and module libraries
without a '::' or a path in their name) are looked at; a target's edge to
itself (CMake draws one for some executables' own build steps) is not a link. Without a
cycle it prints the libraries level by level, lowest first, and exits 0; with
one it prints the libraries of each cycle and exits 1.
"""
import re
import sys

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
                label = label.replace("\\n", " ")
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


def main(argv):
    if len(argv) != 2:
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
    for n, row in enumerate(levels(graph)):
        print(f"{n}: {' '.join(row)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
