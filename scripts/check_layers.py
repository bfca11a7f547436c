#!/usr/bin/env python3
"""Keeps the program's folders in layers: a file may include only from its
own folder or from folders listed before it here.

Run from anywhere: python3 scripts/check_layers.py [source root]
Exit code 0 when every include runs down the layers, 1 otherwise.
"""
import os
import re
import sys

# Bottom to top. A folder that is not listed belongs to the nearest listed
# folder above it (drives/sim/x.cpp is in drives/sim, not drives).
LAYERS = [
    ("common",             "program-wide state and shared constants"),
    ("service",            "running as the service, and the flag that says so"),
    ("settings",           "the settings file and its records"),
    ("autostart",          "start with Windows: the Run value or the service"),
    ("resources",          "language libraries, their texts, the executable's pictures"),
    ("drives",             "drive records, device commands, drive icons, eject and close, the seam"),
    ("drives/sim",         "simulated drives behind the seam"),
    ("tray",               "the tray menu, its states and commands, the shell submenu, autorun, the common icon"),
    ("sheet",              "the settings sheet and its controls"),
    ("update",             "the update check"),
    ("command_line",       "open, close, toggle, lock a drive from the command line"),
    ("app",                "the entry, the main window, start-up and shut-down, system events"),
]
SOURCE_SUFFIXES = (".cpp", ".h", ".inl", ".rc")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(path):
    """Index of the layer a repository-relative path belongs to, or None."""
    best = None
    for index, (folder, _) in enumerate(LAYERS):
        if path == folder or path.startswith(folder + "/"):
            if best is None or len(folder) > len(LAYERS[best][0]):
                best = index
    return best


def resolve(including, target, root):
    """The repository-relative path an include names: from the root, or beside
    the including file."""
    beside = os.path.normpath(os.path.join(os.path.dirname(including), target))
    if os.path.exists(os.path.join(root, beside)):
        return beside.replace(os.sep, "/")
    return os.path.normpath(target).replace(os.sep, "/")


def check(root):
    problems = []
    edges = set()
    for folder, _ in LAYERS:
        top = os.path.join(root, folder)
        for directory, _, files in os.walk(top):
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.relpath(os.path.join(directory, name), root).replace(os.sep, "/")
                if layer_of(path) != layer_of(folder):
                    continue  # a deeper listed folder walks it
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = resolve(path, match.group(1), root)
                        mine, theirs = layer_of(path), layer_of(target)
                        if theirs is None or theirs == mine:
                            continue
                        edges.add((LAYERS[mine][0], LAYERS[theirs][0], path, number, match.group(1)))
                        if theirs > mine:
                            problems.append(
                                f"{path}:{number}: includes \"{match.group(1)}\", but {LAYERS[theirs][0]}/ "
                                f"is above {LAYERS[mine][0]}/ (see LAYERS in scripts/check_layers.py)")
    pairs = {(a, b) for a, b, *_ in edges}
    for a, b, path, number, target in sorted(edges):
        if (b, a) in pairs and a < b:
            problems.append(f"{path}:{number}: includes \"{target}\" while {b}/ also includes from {a}/: "
                            f"the two folders include each other")
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    problems = check(os.path.abspath(root))
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) run against the layers")
        return 1
    print(f"includes run down the {len(LAYERS)} layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
