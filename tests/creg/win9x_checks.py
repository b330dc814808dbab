#!/usr/bin/env python3
"""Windows 9x's own meaning in its own files, read back by libcreg, an
independent reader, on copies of the real Windows Me files (the Windows 98
folder's) and, with --win95, of Windows 95's SYSTEM.1ST (shared test data):

  win9x_checks.py [--win95] root        values merged onto HKEY_LOCAL_MACHINE
                                        itself: libcreg and creg_tool read
                                        them, and everything else unchanged
  win9x_checks.py [--win95] grow-keys N a value added to each of the first N
                                        keys in one merge
  win9x_checks.py [--win95] limits      a value at each of Windows 9x's limits
                                        saves and reads back; one past each
                                        is refused, the file left alone
  win9x_checks.py [--win95|--user] export   --export lists every key and
                                        value exactly as libcreg reads them,
                                        in their order; merged into an empty
                                        registry file it gives the same file
"""

import os
import shutil
import stat
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "harness"))
import creg95  # noqa: E402
import harness  # noqa: E402
import libcreg_dump  # noqa: E402

WIN9X = harness.source_path("tests", "data", "win9x")


def source(win95, user=False):
    if user:
        return os.path.join(WIN9X, "USER.DAT")
    return (harness.shared_testdata("win95", "SYSTEM.1ST") if win95
            else os.path.join(WIN9X, "SYSTEM.DAT"))


def copy(work, path, name):
    to = os.path.join(work, name)
    shutil.copyfile(path, to)
    os.chmod(to, os.stat(to).st_mode | stat.S_IWUSR)
    return to


def regswitch(*args):
    done = subprocess.run([harness.config()["regswitch"]] + list(args),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


def dumps_agree(path):
    """libcreg's reading of PATH, checked to be our loader's too."""
    harness.need_module("pycreg", "python3-libcreg")
    try:
        theirs = libcreg_dump.dump(path)
    except Exception as e:  # libcreg's own errors as well as Corrupted
        harness.fail("libcreg cannot read %s: %s" % (path, e))
    ours = subprocess.run([harness.config()["creg_tool"], "dump", path], check=True,
                          capture_output=True).stdout
    if theirs != ours:
        harness.fail("libcreg and creg_tool read %s differently: %s"
                     % (path, first_difference(theirs, ours)))
    return theirs.decode("cp1252").splitlines()


def first_difference(want, got):
    a, b = want.decode("cp1252").splitlines(), got.decode("cp1252").splitlines()
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return "line %d: %r against %r" % (i + 1, x[:160], y[:160])
    return "%d lines against %d" % (len(a), len(b))


def merged(work, path, text, expect_status=0):
    reg = os.path.join(work, "merge.reg")
    with open(reg, "wb") as f:
        f.write(("REGEDIT4\r\n\r\n" + text).encode("cp1252"))
    status, _, err = regswitch("--registry", path, "--merge", reg)
    if status != expect_status:
        harness.fail("merge: exit status %d (%d expected): %s" % (status, expect_status, err))
    return err


def with_values(lines, path, values):
    """LINES (dump lines) with VALUES (name, type, hex) appended to the key
    at PATH, after its last value."""
    at = lines.index("K " + path) + 1
    while at < len(lines) and lines[at].startswith("V %s|" % path):
        at += 1
    return lines[:at] + ["V %s|%s|%d|%s" % (path, n, t, d) for n, t, d in values] + lines[at:]


def root(work, win95):
    path = copy(work, source(win95), "SYSTEM.DAT")
    before = dumps_agree(path)
    merged(work, path, '[HKEY_LOCAL_MACHINE]\r\n"RootValue"="here"\r\n@=hex:01,02\r\n')
    want = with_values(before, "", [("RootValue", 1, b"here".hex()), ("", 3, "0102")])
    if dumps_agree(path) != want:
        harness.fail("after values on the root: %s" % first_difference(
            "\n".join(want).encode("cp1252"), "\n".join(dumps_agree(path)).encode("cp1252")))
    print("PASS  values on HKEY_LOCAL_MACHINE itself: libcreg and creg_tool read them")


def grow_keys(work, win95, count):
    path = copy(work, source(win95), "SYSTEM.DAT")
    lines = dumps_agree(path)
    # Windows Me keeps SOFTWARE\Classes in CLASSES.DAT: not this file's.
    keys = [line[2:] for line in lines if line.startswith("K ") and line != "K "
            and (win95 or not (line[2:] + "\\").lower().startswith("software\\classes\\"))]
    keys = keys[:int(count)]
    text = "".join('[HKEY_LOCAL_MACHINE\\%s]\r\n"Grown"="x"\r\n' % k for k in keys)
    size = os.path.getsize(path)
    merged(work, path, text)
    for k in keys:
        lines = with_values(lines, k, [("Grown", 1, "78")])
    got = dumps_agree(path)
    if got != lines:
        harness.fail("after %s values: %s" % (count, first_difference(
            "\n".join(lines).encode("cp1252"), "\n".join(got).encode("cp1252"))))
    print("PASS  a value added to each of %d keys: %d bytes, now %d; libcreg reads them all"
          % (len(keys), size, os.path.getsize(path)))


def limits(work, win95):
    """At each limit a value saves; one past it is refused."""
    rows = [("a name of 255 characters", '"%s"="x"' % ("N" * 255), True),
            ("a name of 256", '"%s"="x"' % ("N" * 256), False),
            ("16,300 bytes", '"Big"=hex:' + ",".join(["5a"] * 16300), True),
            ("16,301 bytes", '"Big"=hex:' + ",".join(["5a"] * 16301), False)]
    if win95:
        rows += [("five values of 15,000 bytes in one key",
                  "\r\n".join('"Big%d"=hex:%s' % (i, ",".join(["5a"] * 15000))
                              for i in range(5)), False)]
    for what, line, saves in rows:
        path = copy(work, source(win95), "SYSTEM.DAT")
        with open(path, "rb") as f:
            before = f.read()
        err = merged(work, path, "[HKEY_LOCAL_MACHINE\\Enum]\r\n%s\r\n" % line,
                     0 if saves else 2)
        with open(path, "rb") as f:
            after = f.read()
        if saves:
            dumps_agree(path)
            if after == before:
                harness.fail("%s: nothing was saved" % what)
        elif after != before or "Registry Element Size Limits" not in err:
            harness.fail("%s: the file changed, or the message does not name the "
                         "limit: %s" % (what, err))
        print("PASS  %s: %s" % (what, "saved, libcreg reads it" if saves else err.strip()[:140]))


# --- --export ----------------------------------------------------------------

def unquote(text):
    out, i = [], 1
    while text[i] != '"':
        if text[i] == "\\":
            i += 1
        out.append(text[i])
        i += 1
    return "".join(out), text[i + 1:]


def cp1252(text):
    """A name read as bytes, in code page 1252 as libcreg_dump reads it."""
    return text.encode("latin-1").decode("cp1252")


def export_lines(data, root_name):
    """The export as dump lines: keys in order, strings as Windows 9x keeps
    them (the text, no zero)."""
    # Bytes as they are: names are compared in code page 1252, data as bytes.
    text = data.decode("latin-1")
    if not text.startswith("REGEDIT4\r\n\r\n") or not text.endswith("\r\n\r\n"):
        harness.fail("not a REGEDIT4 export: %r ... %r" % (text[:40], text[-40:]))
    out, path, pending = [], None, ""
    for raw in text[len("REGEDIT4\r\n\r\n"):].split("\r\n"):
        wrapped = raw.endswith("\\") and (pending or not raw.startswith("["))
        # Wrapped once past 76 columns: within 80, but for a first line
        # whose name alone is that long, which takes one byte.
        if wrapped and len(raw) > 80 and (pending or raw.rsplit(":", 1)[1].count(",") > 1):
            harness.fail("a hex line of %d columns: %r" % (len(raw), raw))
        if pending:
            if not raw.startswith("  "):
                harness.fail("a continuation line without its two blanks: %r" % raw)
            raw, pending = pending + raw[2:], ""
        if wrapped:
            pending = raw[:-1]
            continue
        if not raw:
            continue
        if raw.startswith("["):
            key = cp1252(raw[1:-1])
            path = key[len(root_name) + 1:] if key != root_name else ""
            out.append("K " + path)
            continue
        name, rest = ("", raw[1:]) if raw.startswith("@") else unquote(raw)
        name, data = cp1252(name), rest[1:]
        if data.startswith('"'):
            kind, value = 1, unquote(data)[0].encode("latin-1")
        elif data.startswith("dword:"):
            kind, value = 4, int(data[6:], 16).to_bytes(4, "little")
        else:
            head, _, digits = data.partition(":")
            kind = 3 if head == "hex" else int(head[4:-1], 16)
            value = bytes(int(d, 16) for d in digits.split(",") if d)
            if kind == 1:  # a string with a line break: as read, with its zero
                value = value[:-1]
        out.append("V %s|%s|%d|%s" % (path, name, kind, value.hex()))
    return out


def export(work, win95, user):
    original = source(win95, user)
    option, root_name = ("--user", "HKEY_USERS") if user else ("--registry", "HKEY_LOCAL_MACHINE")
    status, data, err = regswitch(option, original, "--export", "-")
    if status != 0:
        harness.fail("--export: exit status %d: %s" % (status, err))
    want = dumps_agree(original)
    got = export_lines(data, root_name)
    if got != want:
        harness.fail("the export and libcreg's reading differ: %s" % first_difference(
            "\n".join(want).encode("cp1252"), "\n".join(got).encode("cp1252")))
    exported = os.path.join(work, "all.reg")
    with open(exported, "wb") as f:
        f.write(data)
    empty = os.path.join(work, "EMPTY.DAT")
    with open(empty, "wb") as f:
        f.write(creg95.empty_file())
    status, _, err = regswitch(option, empty, "--merge", exported)
    if status != 0:
        harness.fail("merging the export into an empty file: exit status %d: %s" % (status, err))
    if dumps_agree(empty) != want:
        harness.fail("the export merged into an empty file reads otherwise: %s"
                     % first_difference("\n".join(want).encode("cp1252"),
                                        "\n".join(dumps_agree(empty)).encode("cp1252")))
    print("PASS  %s: the export lists every key and value as libcreg reads them (%d lines, "
          "%d bytes); merged into an empty file, it gives the same registry"
          % (os.path.basename(original), len(want), len(data)))


def main(argv):
    args = argv[1:]
    win95 = "--win95" in args
    user = "--user" in args
    args = [a for a in args if a not in ("--win95", "--user")]
    commands = {"root": (root, 0), "grow-keys": (grow_keys, 1), "limits": (limits, 0),
                "export": (export, 0)}
    if not args or args[0] not in commands or len(args) - 1 != commands[args[0]][1]:
        print(__doc__, file=sys.stderr)
        return 2
    work = harness.fresh_dir("win9x", "-".join(a.strip("-") for a in argv[1:]))
    function, _ = commands[args[0]]
    if function is export:
        export(work, win95, user)
    else:
        function(work, win95, *args[1:])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
