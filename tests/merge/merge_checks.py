#!/usr/bin/env python3
"""Merges (--merge, --user) into copies of the real Windows 98 SYSTEM.DAT
and USER.DAT and, with --win95, of Windows 95's own SYSTEM.1ST (from the
shared test data), read back by libcreg, an independent reader:

  merge_checks.py [--win95] merge FIXTURE  libcreg reads the merged file as
        exactly the original with FIXTURE applied by this script's own
        reading of the .reg text; so does our loader; checksums hold
  merge_checks.py [--win95] big KEYS       KEYS new keys in one merge (new
        key-tree pages and data blocks), then most of them deleted and
        merged again; each run timed
  merge_checks.py [--win95] user FIXTURE   one merge into SYSTEM.DAT and
        USER.DAT (--user), HKEY_CLASSES_ROOT and HKEY_CURRENT_USER mapped:
        the Windows 98 folder's files are Windows Me's, whose
        HKEY_CLASSES_ROOT goes to a CLASSES.DAT (--classes)
  merge_checks.py [--win95] wine FIXTURE   Wine's regedit imports an export
        of the original and then FIXTURE into a fresh prefix: its registry
        must be exactly what libcreg reads from our merged file
"""

import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "harness"))
sys.path.insert(0, os.path.join(HERE, "..", "creg"))
sys.path.insert(0, os.path.join(HERE, "..", "windows"))
import creg95  # noqa: E402
import harness  # noqa: E402
import libcreg_dump  # noqa: E402
from regcompare import logical_lines, unquote  # noqa: E402

WIN98 = harness.source_path("tests", "data", "win9x")
# Where Wine's copy of the machine goes: a fresh prefix has keys of its own.
UNDER = "HKEY_LOCAL_MACHINE\\Software\\RegswitchMerge"
# Windows 9x: HKEY_CLASSES_ROOT is SOFTWARE\Classes of the machine, and
# HKEY_CURRENT_USER the .DEFAULT user.
ROOTS = {"HKEY_LOCAL_MACHINE": ("system", ""),
         "HKEY_CLASSES_ROOT": ("system", "SOFTWARE\\Classes"),
         "HKEY_USERS": ("user", ""),
         "HKEY_CURRENT_USER": ("user", ".DEFAULT")}
# Windows Me keeps HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE\SOFTWARE\Classes,
# in CLASSES.DAT.
ME_ROOTS = dict(ROOTS, HKEY_CLASSES_ROOT=("classes", ""))


# Bytes that code page 1252 has no character for: an export in UTF-16
# cannot carry them, and Wine reads them back as '?'.
UNDEFINED = bytes.maketrans(b"\x81\x8d\x8f\x90\x9d", b"?????")


def stored(kind, data):
    """Data as Windows 9x keeps it: REG_SZ without its terminating zero."""
    if kind in (1, 2, 7):
        data = data.translate(UNDEFINED)
    return (kind, data[:-1] if kind == 1 and data.endswith(b"\0") else data)


def read_dump(data):
    """{lower-case key path: {lower-case value name: (type, bytes)}} of a
    dump (creg_tool's or libcreg_dump's lines)."""
    keys = {}
    for line in data.split(b"\n"):
        if line.startswith(b"K "):
            keys.setdefault(line[2:].decode("cp1252").lower(), {})
        elif line.startswith(b"V "):
            path, name, kind, hexdata = line[2:].split(b"|")
            keys[path.decode("cp1252").lower()][name.decode("cp1252").lower()] = stored(
                int(kind), bytes.fromhex(hexdata.decode()))
    return keys


def data_of(text, wide=False):
    """(type, bytes) of a value's data text, as the "A" calls see it."""
    if text.startswith('"'):
        s, _ = unquote(text, 0)
        return stored(1, s.encode("cp1252", errors="replace") + b"\0")
    if text.startswith("dword:"):
        return 4, int(text[6:], 16).to_bytes(4, "little")
    m = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)$", text, re.S)
    kind = int(m.group(1), 16) if m.group(1) is not None else 3
    data = bytes(int(d, 16) for d in m.group(2).replace("\\", "").split(",") if d.strip())
    if wide and kind in (1, 2, 7) and len(data) % 2 == 0:
        data = data.decode("utf-16-le").encode("cp1252", errors="replace")
    if kind in (1, 2, 7) and not data.endswith(b"\0"):
        data += b"\0"  # the importer's terminating zero
    return stored(kind, data)


def statements(text):
    """(kind, path or name, data) of a clean .reg text's lines."""
    for line in list(logical_lines(text.replace("\r\n", "\n")))[1:]:
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[-"):
            yield "delete-key", line[2:line.rindex("]")], None
        elif line.startswith("["):
            yield "key", line[1:line.rindex("]")], None
        else:
            if line.startswith("@="):
                name, rest = "", line[2:]
            else:
                name, end = unquote(line, 0)
                rest = line[end + 1:]
            yield ("delete-value", name, None) if rest == "-" else ("value", name, rest)


def apply(files, text, roots=ROOTS):
    """Applies the .reg text to {"system": keys, "user": keys} as the
    importer does (the fixtures' constructs only)."""
    current = None
    for kind, what, data in statements(text):
        if kind in ("key", "delete-key"):
            root, _, rest = what.partition("\\")
            if (roots is ME_ROOTS and root == "HKEY_LOCAL_MACHINE"
                    and (rest + "\\").lower().startswith("software\\classes\\")):
                root, rest = "HKEY_CLASSES_ROOT", rest[len("software\\classes\\"):]
            where, prefix = roots[root]
            path = "\\".join(p for p in (prefix, rest) if p).lower()
            keys = files[where]
            if kind == "delete-key":
                for k in [k for k in keys if k == path or k.startswith(path + "\\")]:
                    del keys[k]
                current = None
                continue
            parts = path.split("\\") if path else []
            for i in range(len(parts) + 1):
                keys.setdefault("\\".join(parts[:i]), {})
            current = keys[path]
        elif kind == "delete-value":
            current.pop(what.lower(), None)
        else:
            current[what.lower()] = data_of(data)


def differences(want, got):
    out = []
    for path in sorted(set(want) | set(got)):
        if path not in got:
            out.append("missing key " + path)
        elif path not in want:
            out.append("extra key " + path)
        elif want[path] != got[path]:
            out.append("values of %s: %r, expected %r" % (path, got[path], want[path]))
    return out


class Case:
    def __init__(self, checks, win95, name):
        self.checks = checks
        self.win95 = win95
        self.work = harness.fresh_dir("merge", ("win95-" if win95 else "win98-") + name)
        self.source = (harness.shared_testdata("win95", "SYSTEM.1ST") if win95
                       else os.path.join(WIN98, "SYSTEM.DAT"))
        self.cfg = harness.config()

    def copy(self, source, name):
        path = os.path.join(self.work, name)
        shutil.copyfile(source, path)
        os.chmod(path, 0o644)
        return path

    def ours(self, path):
        return subprocess.run([self.cfg["creg_tool"], "dump", path], check=True,
                              stdout=subprocess.PIPE).stdout

    def merge(self, targets, fixtures, what):
        """Runs regswitch with --merge FIXTURES on the TARGETS
        (["--registry", path, ...]); the seconds it took."""
        args = [self.cfg["regswitch"]] + targets
        for fixture in fixtures:
            args += ["--merge", fixture]
        started = time.monotonic()
        run = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        seconds = time.monotonic() - started
        self.checks.check("%s: regswitch exits 0" % what, run.returncode == 0,
                          run.stderr.decode(errors="replace")[-600:])
        return seconds

    def readers_agree(self, path, want, what):
        """libcreg and our loader read PATH alike, as WANT; the checksums of
        a Windows 95 file hold."""
        try:
            theirs = libcreg_dump.dump(path)
        except libcreg_dump.Corrupted as e:
            self.checks.check("%s: libcreg reads it" % what, False, str(e))
            return
        self.checks.check("%s: libcreg reads it as our loader does" % what,
                          theirs == self.ours(path))
        got = read_dump(theirs)
        self.checks.check("%s: holds exactly the merge" % what, got == want,
                          "; ".join(differences(want, got)[:6]))
        with open(self.source, "rb") as f:
            before = f.read()
        with open(path, "rb") as f:
            after = f.read()
        wrong = creg95.problems(before, after)
        self.checks.check("%s: checksums hold" % what, not wrong, "; ".join(wrong))


def fixture_path(name):
    return harness.source_path("tests", "merge", "fixtures", name)


def read_text(path):
    with open(path, "rb") as f:
        return f.read().decode("cp1252")


def merge(case, fixture):
    path = case.copy(case.source, "SYSTEM.DAT")
    want = {"system": read_dump(case.ours(path))}
    apply(want, read_text(fixture_path(fixture)))
    case.merge(["--registry", path], [fixture_path(fixture)], fixture)
    case.readers_agree(path, want["system"], fixture)


def big(case, count):
    """COUNT new keys under Software\\Kit, each with a subkey and values:
    more than the free space of any block and the key tree's free nodes."""
    path = case.copy(case.source, "SYSTEM.DAT")
    want = {"system": read_dump(case.ours(path))}
    lines = ["REGEDIT4", ""]
    for i in range(count):
        lines += ["[HKEY_LOCAL_MACHINE\\Software\\Kit\\Package%05d\\Files]" % i,
                  '"Description"="Package %d, installed by the kit"' % i,
                  '"Size"=dword:%08x' % (i * 4096)]
    big_reg = os.path.join(case.work, "big.reg")
    with open(big_reg, "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")
    apply(want, "\r\n".join(lines))
    size = os.path.getsize(path)
    seconds = case.merge(["--registry", path], [big_reg], "big")
    print("merged %d keys (%d bytes of .reg) into %d bytes in %.2f s: now %d bytes"
          % (2 * count, os.path.getsize(big_reg), size, seconds, os.path.getsize(path)))
    case.readers_agree(path, want["system"], "%d new keys" % (2 * count))
    # Most of them deleted, a few made again: the space is used again.
    again = ["REGEDIT4", "", "[-HKEY_LOCAL_MACHINE\\Software\\Kit]",
             "[HKEY_LOCAL_MACHINE\\Software\\Kit\\Package00001\\Files]",
             '"Description"="made again"']
    again_reg = os.path.join(case.work, "again.reg")
    with open(again_reg, "w") as f:
        f.write("\r\n".join(again) + "\r\n")
    apply(want, "\r\n".join(again))
    grown = os.path.getsize(path)
    seconds = case.merge(["--registry", path], [again_reg], "again")
    print("deleted them and made one again in %.2f s" % seconds)
    case.readers_agree(path, want["system"], "deleted and made again")
    case.checks.check("deleting frees space that is used again: the file did "
                      "not grow", os.path.getsize(path) == grown)


def user(case, fixture):
    system = case.copy(case.source, "SYSTEM.DAT")
    user_dat = case.copy(os.path.join(WIN98, "USER.DAT"), "USER.DAT")
    want = {"system": read_dump(case.ours(system)), "user": read_dump(case.ours(user_dat))}
    targets = ["--registry", system, "--user", user_dat]
    win_me = not case.win95
    if win_me:
        empty = os.path.join(case.work, "EMPTY.DAT")
        with open(empty, "wb") as f:
            f.write(creg95.empty_file())
        classes = case.copy(empty, "CLASSES.DAT")
        want["classes"] = read_dump(case.ours(classes))
        targets += ["--classes", classes]
    apply(want, read_text(fixture_path(fixture)), ME_ROOTS if win_me else ROOTS)
    case.merge(targets, [fixture_path(fixture)], fixture)
    case.readers_agree(system, want["system"], fixture + ": SYSTEM.DAT")
    if win_me:
        case.source = empty
        case.readers_agree(classes, want["classes"], fixture + ": CLASSES.DAT")
    case.source = os.path.join(WIN98, "USER.DAT")
    case.readers_agree(user_dat, want["user"], fixture + ": USER.DAT")


def wine_keys(path, work):
    """Wine's export of UNDER as {lower-case path below it: values}."""
    with open(path, "rb") as f:
        raw = f.read()
    text = raw[2:].decode("utf-16-le") if raw.startswith(b"\xff\xfe") else raw.decode()
    keys, current = {}, None
    for kind, what, data in statements(text):
        if kind == "key":
            low = what.lower()
            rel = low[len(UNDER) + 1:] if low.startswith(UNDER.lower() + "\\") else ""
            current = keys.setdefault(rel, {})
        elif kind == "value":
            current[what.lower()] = data_of(data, wide=True)
    return keys


def wine(case, fixture):
    for command in ("wine", "wineboot", "wineserver"):
        harness.need_command(command, "wine")
    path = case.copy(case.source, "SYSTEM.DAT")
    export = os.path.join(case.work, "original.reg")
    with open(export, "wb") as f:
        subprocess.run([case.cfg["creg_tool"], "export", path, UNDER], check=True, stdout=f)
    moved = os.path.join(case.work, "moved.reg")
    with open(moved, "w", newline="") as f:
        f.write(read_text(fixture_path(fixture)).replace(
            "HKEY_LOCAL_MACHINE\\", UNDER + "\\"))
    case.merge(["--registry", path], [fixture_path(fixture)], fixture)
    log = os.path.join(case.work, "wine.log")
    env = dict(os.environ, WINEPREFIX=os.path.join(case.work, "prefix"),
               WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)

    def run(*args):
        return harness.run_logged(list(args), log, timeout=600, env=env)

    out = os.path.join(case.work, "wine.reg")
    try:
        if run("wineboot", "-i") != 0 or run("wineserver", "-w") != 0:
            harness.fail("could not make a Wine prefix:\n" + harness.tail(log))
        for reg in (export, moved):
            if run("wine", "regedit", "/s", "Z:" + reg.replace("/", "\\")) != 0:
                harness.fail("regedit /s failed:\n" + harness.tail(log))
        run("wine", "regedit", "/e", "Z:" + out.replace("/", "\\"), UNDER)
    finally:
        run("wineserver", "-k")
    if not os.path.exists(out):
        harness.fail("Wine exported nothing:\n" + harness.tail(log))
    theirs = wine_keys(out, case.work)
    ours = read_dump(libcreg_dump.dump(path))
    case.checks.check("%s: Wine's registry after importing the original and "
                      "the merge is libcreg's reading of our merged file" % fixture,
                      theirs == ours, "; ".join(differences(theirs, ours)[:6]))


def main(argv):
    harness.need_module("pycreg", "python3-libcreg")
    win95 = "--win95" in argv
    argv = [a for a in argv if a != "--win95"]
    checks = harness.Checks()
    command, arg = argv[1], argv[2]
    case = Case(checks, win95, command + "-" + arg)
    {"merge": merge, "user": user, "wine": wine,
     "big": lambda c, a: big(c, int(a))}[command](case, arg)
    checks.finish()


if __name__ == "__main__":
    main(sys.argv)
