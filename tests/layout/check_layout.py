#!/usr/bin/env python3
"""Checks that the source tree keeps its shape: includes run one way
between the folders, no header includes itself back through others, no
source file is over 600 lines and, where clang-tidy is at hand, no function
is over 80 lines.

usage: check_layout.py SOURCE_DIR BUILD_DIR (which holds compile_commands.json)
"""
import json
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "harness"))
import harness  # noqa: E402

MAX_FILE_LINES = 600
MAX_FUNCTION_LINES = 80

# What each folder may include besides itself. The program's own code sees
# only itself; the host side runs cli -> show, formats -> files, registry
# -> core, and cli -> image -> files.
ALLOWED = {
    "core": set(),
    "win32": {"core"},
    "host/registry": {"core"},
    "host/files": set(),
    "host/formats/reg": {"host/formats", "host/files", "host/registry", "core"},
    "host/formats/creg": {"host/formats", "host/formats/reg", "host/files",
                          "host/registry", "core"},
    "host/formats": {"host/formats/reg", "host/formats/creg", "host/files",
                     "host/registry", "core"},
    # Merging .reg files: the importer's statements applied to registries.
    "host/formats/merge": {"host/formats/reg", "host/files", "host/registry",
                           "core"},
    # --show runs the tweaks over the registry; its text needs the code page.
    "host/show": {"host/formats/reg", "host/registry", "core"},
    "host/image": {"host/files"},
    "host/cli": {"host/show", "host/formats", "host/formats/merge",
                 "host/image", "host/files", "host/registry", "core"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(path):
    """The most specific folder in ALLOWED that holds `path` (under src/)."""
    best = None
    for folder in ALLOWED:
        if path.startswith(folder + "/") and (best is None or len(folder) > len(best)):
            best = folder
    return best


def sources(src):
    for root, _, files in os.walk(src):
        for name in files:
            if name.endswith((".cpp", ".h")):
                full = os.path.join(root, name)
                yield os.path.relpath(full, src).replace(os.sep, "/")


def resolve(src, including, target):
    """An include as a path under src/: relative to the file, else to src/."""
    relative = os.path.normpath(os.path.join(os.path.dirname(including), target))
    if os.path.exists(os.path.join(src, relative)):
        return relative.replace(os.sep, "/")
    if os.path.exists(os.path.join(src, target)):
        return target
    return None


def check_includes(src, files, problems):
    graph = {}
    for path in files:
        text = open(os.path.join(src, path), encoding="utf-8").read()
        lines = text.count("\n")
        if lines > MAX_FILE_LINES:
            problems.append(f"{path}: {lines} lines, more than {MAX_FILE_LINES}")
        graph[path] = []
        here = folder_of(path)
        for target in INCLUDE.findall(text):
            included = resolve(src, path, target)
            if included is None:
                problems.append(f"{path}: includes {target}, which is not in src/")
                continue
            graph[path].append(included)
            there = folder_of(included)
            if there != here and there not in ALLOWED.get(here, set()):
                problems.append(f"{path}: {here} may not include {included} ({there})")
    return graph


def check_cycles(graph, problems):
    state = {}

    def visit(node, stack):
        state[node] = "open"
        stack.append(node)
        for nxt in graph.get(node, []):
            if state.get(nxt) == "open":
                cycle = stack[stack.index(nxt):] + [nxt]
                problems.append("include cycle: " + " -> ".join(cycle))
            elif nxt not in state:
                visit(nxt, stack)
        stack.pop()
        state[node] = "done"

    for node in sorted(graph):
        if node not in state:
            visit(node, [])


def check_function_sizes(src, build, problems):
    tidy = harness.need_command("clang-tidy", "clang-tidy")
    database = os.path.join(build, "compile_commands.json")
    if not os.path.exists(database):
        harness.fail("no %s to check function sizes with" % database)
    units = [e["file"] for e in json.load(open(database))
             if os.path.abspath(e["file"]).startswith(os.path.abspath(src))]
    config = ("{Checks: '-*,readability-function-size', CheckOptions: "
              "[{key: readability-function-size.LineThreshold, value: %d}]}"
              % MAX_FUNCTION_LINES)
    result = subprocess.run([tidy, "-p", build, "--config=" + config, "--quiet"]
                            + sorted(set(units)),
                            capture_output=True, text=True)
    for line in result.stdout.splitlines():
        if "readability-function-size" in line:
            problems.append(line.strip())


def main():
    src = os.path.join(sys.argv[1], "src")
    build = sys.argv[2]
    files = sorted(sources(src))
    problems = []
    check_cycles(check_includes(src, files, problems), problems)
    check_function_sizes(src, build, problems)
    for problem in problems:
        print(problem)
    print(f"{len(files)} source files checked, {len(problems)} problems")
    return 1 if problems else 0


sys.exit(main())
