#!/usr/bin/env python3
"""Checks that the source tree keeps its shape: includes run one way
between the folders, no file includes itself back through others, no
module (a .h and its .cpp) reaches itself through the modules it includes,
the libraries' symbols run one way with no cycle, no source file is over
600 lines and, where clang-tidy is at hand, no function is over 80 lines.

usage: check_layout.py SOURCE_DIR BUILD_DIR (which holds compile_commands.json
and the libraries)
"""
import glob
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
# only itself; the host side runs cli -> session -> formats, files ->
# registry -> core, with image and files over the platform, and program
# (WinMain run on the host) above core and registry.
ALLOWED = {
    "core": set(),
    "win32": {"core"},
    "host/platform": set(),
    "host/registry": {"core"},
    "host/program": {"host/registry", "core"},
    "host/files": {"host/platform"},
    "host/formats/reg": {"host/formats", "host/files", "host/platform",
                         "host/registry", "core"},
    "host/formats/creg": {"host/formats", "host/formats/reg", "host/files",
                          "host/platform", "host/registry", "core"},
    "host/formats": {"host/formats/reg", "host/formats/creg", "host/files",
                     "host/platform", "host/registry", "core"},
    # Merging .reg files: the importer's statements applied to registries.
    "host/formats/merge": {"host/formats/reg", "host/files", "host/platform",
                           "host/registry", "core"},
    # --show runs the tweaks over the registry; its text needs the code page.
    "host/show": {"host/program", "host/formats/reg", "host/formats",
                  "host/platform", "host/registry", "core"},
    "host/session": {"host/show", "host/program", "host/formats",
                     "host/formats/merge", "host/formats/reg",
                     "host/formats/creg", "host/files",
                     "host/platform", "host/registry", "core"},
    "host/image": {"host/platform"},
    "host/cli": {"host/session", "host/image", "host/formats",
                 "host/formats/creg", "host/files", "host/program",
                 "host/platform", "host/registry", "core"},
}

# The program's own code needs nothing of the host side but the seam
# RegistryOps, which the platform answers (advapi32 on Windows, the host
# registry here), as a program calls its system's library.
SEAM = ("regswitch_core", "regswitch_registry", "RegistryOps::")

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


def module_of(path):
    """A module: a .h and its .cpp, named by the path without extension."""
    return os.path.splitext(path)[0]


def check_module_cycles(graph, problems):
    modules = {}
    for path, targets in graph.items():
        here = module_of(path)
        modules.setdefault(here, set()).update(
            module_of(t) for t in targets if module_of(t) != here)
    state = {}

    def visit(node, stack):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(modules.get(node, ())):
            if state.get(nxt) == "open":
                cycle = stack[stack.index(nxt):] + [nxt]
                problems.append("module cycle: " + " -> ".join(cycle))
            elif nxt not in state:
                visit(nxt, stack)
        stack.pop()
        state[node] = "done"

    for node in sorted(modules):
        if node not in state:
            visit(node, [])


def symbols(library, defined):
    """The symbols a static library defines strongly, or needs."""
    flag = ["--defined-only"] if defined else ["--undefined-only"]
    out = subprocess.run(["nm", "-g"] + flag + [library], capture_output=True,
                         text=True).stdout
    names = set()
    for line in out.splitlines():
        parts = line.split()
        if len(parts) < 2 or line.endswith(":"):
            continue
        kind, name = parts[-2], parts[-1]
        if not defined or kind in "TDBR":
            names.add(name)
    return names


def check_library_links(build, problems):
    """Each library's needs met below it: no library needs one that needs
    it back, whatever the link order lets through."""
    libraries = {os.path.basename(p)[3:-2]: p
                 for p in glob.glob(os.path.join(build, "libregswitch_*.a"))}
    if not libraries:
        problems.append("no libregswitch_*.a in %s to check the links of" % build)
        return
    where = {}
    for name, path in libraries.items():
        for symbol in symbols(path, True):
            where.setdefault(symbol, name)
    needs = {name: set() for name in libraries}
    for name, path in libraries.items():
        for symbol in symbols(path, False):
            owner = where.get(symbol)
            if owner is None or owner == name:
                continue
            if name == SEAM[0]:
                demangled = subprocess.run(["c++filt", symbol], capture_output=True,
                                           text=True).stdout
                if owner != SEAM[1] or not demangled.startswith(SEAM[2]):
                    problems.append("%s needs %s of %s: the program's own code "
                                    "may call only the seam" %
                                    (name, demangled.strip(), owner))
            needs[name].add(owner)
    state = {}

    def visit(node, stack):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(needs[node]):
            if state.get(nxt) == "open":
                problems.append("library cycle: " + " -> ".join(
                    stack[stack.index(nxt):] + [nxt]))
            elif nxt not in state:
                visit(nxt, stack)
        stack.pop()
        state[node] = "done"

    for node in sorted(needs):
        if node not in state:
            visit(node, [])
    for node in sorted(needs):
        print("  %s needs %s" % (node, ", ".join(sorted(needs[node])) or "nothing"))


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
    graph = check_includes(src, files, problems)
    check_cycles(graph, problems)
    check_module_cycles(graph, problems)
    check_library_links(build, problems)
    check_function_sizes(src, build, problems)
    for problem in problems:
        print(problem)
    print(f"{len(files)} source files checked, {len(problems)} problems")
    return 1 if problems else 0


sys.exit(main())
