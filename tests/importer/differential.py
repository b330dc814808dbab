#!/usr/bin/env python3
"""Wine's importer against the host program, file by file.

For each file in tests/importer/fixtures/ (written for these tests in the
style of real files: tweak collections, an unattended-install kit, an
installer's export, a terminal's UTF-16 file) and the switches of its case:

  1. Wine's regedit imports the file into a fresh registry; the keys the
     tweaks use are exported. The host program's reading of the file
     (creg_tool dump) must hold exactly those keys and values.
  2. The host program runs the switches on a copy of the file and, with
     --dry-run, prints the run's changes.
  3. Wine imports the saved file into another fresh registry. Its keys must
     be those of step 1 with exactly the run's changes applied.

A fresh registry is the prefix made for this test with the exported keys
deleted before each import. Wine reads no UTF-8 (Windows does): a UTF-8
file is handed to Wine as the same text in UTF-16.

  differential.py          runs every case (CTest: importer.wine-differential)
"""

import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "harness"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "windows"))
import harness  # noqa: E402
from regcompare import logical_lines, unquote  # noqa: E402

HKLM = "HKEY_LOCAL_MACHINE"
# Where the tweaks look; none of them is in a fresh Wine prefix.
ROOTS = [
    r"Enum",
    r"System\CurrentControlSet\Services\Class",
    r"System\CurrentControlSet\Control\FileSystem",
    r"Software\Microsoft\Windows\CurrentVersion\Setup\OptionalComponents",
]
STRING_TYPES = (1, 2, 7)

# (file, switches, what the run must change: at least one value)
CASES = [
    ("tweak-collection.reg", ["/DMA:1", "/CDP:1", "/ACS"]),
    ("unattended-kit.reg", ["/DIN:1", "/SSP:1"]),
    ("installer-v5-8bit.reg", ["/DDC:1", "/CDP:1"]),
    ("terminal-utf16.reg", ["/ACS", "/DMA:0"]),
]


def ansi(text):
    """Text as the "A" calls see it: code page 1252, '?' for the rest."""
    return text.encode("cp1252", errors="replace")


def value_bytes(kind, data_text, wide):
    """(type, bytes as the "A" calls see them) of a value's data text."""
    if data_text.startswith('"'):
        text, _ = unquote(data_text, 0)
        return 1, ansi(text) + b"\0"
    if data_text.startswith("dword:"):
        return 4, int(data_text[6:], 16).to_bytes(4, "little")
    m = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)$", data_text, re.S)
    if not m:
        raise ValueError("cannot read %r" % data_text)
    kind = int(m.group(1), 16) if m.group(1) is not None else 3
    data = bytes(int(d, 16) for d in m.group(2).split(",") if d.strip())
    if kind in STRING_TYPES and wide and len(data) % 2 == 0:
        data = ansi(data.decode("utf-16-le", errors="replace"))
    return kind, data


def read_reg(data):
    """{key path below HKLM: {value name: (type, bytes)}} of a clean .reg
    file: Wine's exports and the host program's fragments."""
    wide = data.startswith(b"\xff\xfe")
    text = data[2:].decode("utf-16-le") if wide else data.decode("utf-8")
    wide = wide or text.startswith("Windows Registry Editor Version 5.00")
    keys = {}
    current = None
    for line in list(logical_lines(text.replace("\r\n", "\n").replace("\r", "\n")))[1:]:
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("["):
            path = line[1:line.rindex("]")]
            path = path[len(HKLM) + 1:] if path.startswith(HKLM + "\\") else ""
            current = keys.setdefault(path, {})
            continue
        if line.startswith("@="):
            name, rest = "", line[2:]
        else:
            name, end = unquote(line, 0)
            rest = line[end + 1:]
        current[name] = value_bytes(None, rest, wide)
    return keys


def read_dump(text):
    """The same from creg_tool dump's lines."""
    keys = {}
    for line in text.split(b"\n"):
        if line.startswith(b"K "):
            keys.setdefault(line[2:].decode("cp1252"), {})
        elif line.startswith(b"V "):
            path, name, kind, data = line[2:].split(b"|")
            keys[path.decode("cp1252")][name.decode("cp1252")] = (
                int(kind), bytes.fromhex(data.decode()))
    return keys


def under_roots(keys):
    """The keys in ROOTS' trees, by lower-case path, names lower-cased."""
    out = {}
    for path, values in keys.items():
        low = path.lower()
        if any(low == r.lower() or low.startswith(r.lower() + "\\") for r in ROOTS):
            out[low] = {n.lower(): v for n, v in values.items()}
    return out


def apply(keys, changes):
    out = {k: dict(v) for k, v in keys.items()}
    for path, values in under_roots(changes).items():
        out.setdefault(path, {}).update(values)
    return out


def differences(expected, actual):
    lines = []
    for path in sorted(set(expected) | set(actual)):
        if path not in actual:
            lines.append("missing key %s" % path)
        elif path not in expected:
            lines.append("extra key %s" % path)
        else:
            for name in sorted(set(expected[path]) | set(actual[path])):
                a, b = expected[path].get(name), actual[path].get(name)
                if a != b:
                    lines.append("%s: %r expected %r" % (path + "|" + name, b, a))
    return lines


class WineRegistry:
    def __init__(self, work):
        self.work = work
        self.log = os.path.join(work, "wine.log")
        open(self.log, "w").close()
        self.env = dict(os.environ, WINEPREFIX=os.path.join(work, "prefix"),
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("DISPLAY", None)

    def run(self, *args, timeout=300):
        return harness.run_logged(list(args), self.log, timeout=timeout, env=self.env)

    def winpath(self, path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def setup(self):
        self.run("wineserver", "-k", timeout=60)
        shutil.rmtree(self.env["WINEPREFIX"], ignore_errors=True)
        if self.run("wineboot", "-i") != 0 or self.run("wineserver", "-w") != 0:
            harness.fail("could not make a Wine prefix:\n" + harness.tail(self.log))

    def fresh_import(self, path):
        """Imports PATH after deleting ROOTS; returns the ROOTS' keys."""
        clean = os.path.join(self.work, "clean.reg")
        with open(clean, "w") as f:
            f.write("REGEDIT4\n\n" + "".join(
                "[-%s\\%s]\n" % (HKLM, r) for r in ROOTS))
        for reg in (clean, path):
            if self.run("wine", "regedit", "/s", self.winpath(reg)) != 0:
                harness.fail("regedit /s %s failed:\n%s" % (reg, harness.tail(self.log)))
        keys = {}
        for i, root in enumerate(ROOTS):
            out = os.path.join(self.work, "export%d.reg" % i)
            if os.path.exists(out):
                os.remove(out)
            self.run("wine", "regedit", "/e", self.winpath(out), HKLM + "\\" + root)
            if os.path.exists(out):
                with open(out, "rb") as f:
                    keys.update(read_reg(f.read()))
        return under_roots(keys)

    def stop(self):
        self.run("wineserver", "-k", timeout=60)


def for_wine(path, work):
    """The file as Wine can read it: UTF-8 handed over as UTF-16."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(b"\xef\xbb\xbf"):
        return path
    out = os.path.join(work, "as-utf16.reg")
    with open(out, "wb") as f:
        f.write(b"\xff\xfe" + data[3:].decode("utf-8").encode("utf-16-le"))
    return out


def check(checks, name, ok, detail):
    checks.check(name, ok, "" if ok else detail)


def run_case(checks, wine, work, fixture, switches):
    cfg = harness.config()
    source = harness.source_path("tests", "importer", "fixtures", fixture)
    original = wine.fresh_import(for_wine(source, work))
    dump = subprocess.run([cfg["creg_tool"], "dump", source], stdout=subprocess.PIPE)
    ours = under_roots(read_dump(dump.stdout))
    check(checks, "%s: read as Wine imports it" % fixture, ours == original,
                 "; ".join(differences(original, ours)[:8]))

    copy = os.path.join(work, fixture)
    shutil.copyfile(source, copy)
    dry = subprocess.run([cfg["regswitch"], "--registry", copy, "--dry-run"] + switches,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    run = subprocess.run([cfg["regswitch"], "--registry", copy] + switches,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    check(checks, "%s: %s runs" % (fixture, " ".join(switches)),
                 run.returncode == 0 and dry.returncode == 0,
                 (run.stderr + dry.stderr).decode(errors="replace")[-400:])
    changes = read_reg(dry.stdout) if dry.stdout else {}
    check(checks, "%s: the run changes something" % fixture,
                 any(changes.values()), dry.stdout.decode(errors="replace")[:200])
    saved = wine.fresh_import(for_wine(copy, work))
    expected = apply(original, changes)
    check(checks, "%s: the saved file imports as the original plus the changes"
                 % fixture, saved == expected,
                 "; ".join(differences(expected, saved)[:8]))


def main():
    for command in ("wine", "wineboot", "wineserver"):
        harness.need_command(command, "wine")
    work = harness.fresh_dir("importer")
    wine = WineRegistry(work)
    checks = harness.Checks()
    try:
        wine.setup()
        for fixture, switches in CASES:
            run_case(checks, wine, work, fixture, switches)
    finally:
        wine.stop()
    checks.finish()


if __name__ == "__main__":
    main()
