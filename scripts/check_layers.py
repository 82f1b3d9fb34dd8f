#!/usr/bin/env python3
"""Checks that the includes between the rooms keep the house's layering, and prints
the include graph between rooms (room -> room: number of includes).

usage: scripts/check_layers.py [--quiet] [ROOT]   (default ROOT: this repository)

The library stands on floors: common/ at the bottom; the stages global/, stroke/ and
local/ on it; the driver pipeline/ and the public header include/ on top. An include
may only point down or stay on its floor. The library includes neither the command
line (app/) nor the rooms around it. Exit status 0 when every include keeps these
rules, 1 when one breaks them (each is named on standard error), 2 for a bad ROOT.
"""

import argparse
import collections
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SOURCE_SUFFIXES = (".cpp", ".cc", ".h", ".hpp", ".in")
STAGES = {"global", "stroke", "local"}
LIBRARY = {"common", "pipeline", "include"} | STAGES
OUTSIDE = {"app", "tools", "tests", "bench", "python", "examples", "scripts",
           "batch"}
# The rooms each library room must not include.
FORBIDDEN = {
    "common": OUTSIDE | STAGES | {"pipeline"},
    **{stage: OUTSIDE | {"pipeline"} for stage in STAGES},
    "pipeline": OUTSIDE,
    "include": OUTSIDE | STAGES | {"common", "pipeline"},
}


def sources(root):
    """Every C++ file of the tree, as a path relative to root; build folders,
    hidden folders and node_modules left out."""
    for folder, subfolders, files in os.walk(root):
        subfolders[:] = sorted(name for name in subfolders if not (
            name.startswith((".", "build")) or name in ("node_modules", "out")))
        for name in sorted(files):
            if name.endswith(SOURCE_SUFFIXES):
                yield os.path.relpath(os.path.join(folder, name), root)


def included_room(root, source, target):
    """The room an include names: its first folder when that is a room of root, the
    public header's room for edgebin/..., else the room of the including file for
    includes found beside it (or beside its room's own include folder)."""
    first = target.split("/")[0]
    if "/" in target and os.path.isdir(os.path.join(root, first)):
        return first
    if first == "edgebin":
        return "include"
    return source.split(os.sep)[0]


def include_edges(root):
    """(source file, line number, source room, included room) of every quoted include."""
    for source in sources(root):
        room = source.split(os.sep)[0]
        if os.sep not in source:
            continue
        with open(os.path.join(root, source), encoding="utf-8", errors="replace") as file:
            for number, line in enumerate(file, 1):
                match = INCLUDE.match(line)
                if match:
                    yield source, number, room, included_room(root, source, match.group(1))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("root", nargs="?",
                        default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser.add_argument("--quiet", action="store_true", help="print no graph")
    args = parser.parse_args()
    if not os.path.isdir(args.root):
        parser.exit(2, f"check_layers.py: {args.root} is not a folder\n")
    graph = collections.Counter()
    broken = 0
    for source, number, room, target in include_edges(args.root):
        if room != target:
            graph[room, target] += 1
        if target in FORBIDDEN.get(room, ()):
            broken += 1
            print(f"check_layers.py: {source}:{number}: {room}/ must not include {target}/",
                  file=sys.stderr)
    if not args.quiet:
        for (room, target), count in sorted(graph.items()):
            print(f"{room} -> {target}: {count}")
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
