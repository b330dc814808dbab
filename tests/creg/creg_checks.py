#!/usr/bin/env python3
"""Windows 9x registry files (CREG) against libcreg, an independent reader
of the format, on a copy of a real Windows 98 SYSTEM.DAT:

  creg_checks.py original        libcreg reads it exactly as creg_tool does
  creg_checks.py tweak SWITCH    e.g. /DMA:1: libcreg and creg_tool read
                                 exactly the values the tweak must leave
  creg_checks.py grow BYTES      a value of BYTES bytes added by creg_tool
                                 set, read back by libcreg
  creg_checks.py cregexport-dma  cregexport lists the four DMA values after /DMA:1
  creg_checks.py truncated       a truncated file is refused and left alone
"""

import os
import shutil
import stat
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "harness"))
import harness  # noqa: E402
import libcreg_dump  # noqa: E402

SYSTEM_DAT = harness.source_path("tests", "data", "win9x", "SYSTEM.DAT")
HDC = "System\\CurrentControlSet\\Services\\Class\\hdc"
DDC = "System\\CurrentControlSet\\Services\\Class\\DISPLAY\\0000\\DEFAULT"
CDROM = ("Enum\\SCSI\\VBOX____CD-ROM__________1\\MF&CHILD0001&PCI&VEN_8086&DEV_7111"
         "&SUBSYS_00000000&REV_01&BUS_00&DEV_01&FUNC_0100")
APM = "Enum\\Root\\*PNP0C05\\0000"

# The values each tweak must leave on this machine, as dump lines; every
# other line must stay as it was.
EXPECTED = {
    "/SSP:1": ["V %s|APMMenuSuspend|3|01" % APM],
    "/SSP:0": ["V %s|APMMenuSuspend|3|00" % APM],
    "/ACS:1": ["V System\\CurrentControlSet\\Control\\FileSystem|ACDriveSpinDown|3|00000000"],
    "/ACS:0": ["V System\\CurrentControlSet\\Control\\FileSystem|ACDriveSpinDown|3|00000000"],
    "/DDC:1": ["V %s|DDC|1|3100" % DDC],
    "/DDC:0": ["V %s|DDC|1|3000" % DDC],
    "/DMA:1": ["V %s\\%s|IDEDMADRIVE%d|3|01" % (HDC, c, d)
               for c in ("0001", "0002") for d in (0, 1)],
    "/DMA:0": ["V %s\\%s|IDEDMADRIVE%d|3|00" % (HDC, c, d)
               for c in ("0001", "0002") for d in (0, 1)],
    "/DIN:1": [],  # this machine has no DeskMgmt component
    "/DIN:0": [],
    "/CDP:1": ["V %s|AutoInsertNotification|3|01" % CDROM],
    "/CDP:0": ["V %s|AutoInsertNotification|3|00" % CDROM],
}


def copy_of_system_dat(work, name):
    copy = os.path.join(work, name)
    shutil.copyfile(SYSTEM_DAT, copy)
    os.chmod(copy, os.stat(copy).st_mode | stat.S_IWUSR)
    return copy


def run(args):
    """The exit status and the output of a command."""
    done = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    return done.returncode, (done.stdout + done.stderr).decode("utf-8", "replace").strip()


def our_dump(path):
    done = subprocess.run([harness.config()["creg_tool"], "dump", path],
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    if done.returncode != 0:
        harness.fail("creg_tool dump %s: status %d: %s" % (
            path, done.returncode, done.stderr.decode("utf-8", "replace")))
    return done.stdout


def libcreg(path):
    harness.need_module("pycreg", "python3-libcreg")
    try:
        return libcreg_dump.dump(path)
    except Exception as e:  # libcreg's own errors as well as Corrupted
        harness.fail("libcreg cannot read %s: %s" % (path, e))


def with_values(dump, wanted):
    """DUMP with the WANTED lines set: replacing the value where it exists
    (names compare case-insensitively), after the key's last value otherwise."""
    lines = dump.decode("cp1252").splitlines()
    for want in wanted:
        path, name = want[2:].split("|")[:2]
        prefix = "V %s|%s|" % (path, name)
        hit = [i for i, line in enumerate(lines) if line.upper().startswith(prefix.upper())]
        if hit:
            lines[hit[0]] = want
            continue
        at = lines.index("K " + path) + 1
        while at < len(lines) and lines[at].startswith("V %s|" % path):
            at += 1
        lines.insert(at, want)
    return ("\n".join(lines) + "\n").encode("cp1252")


def first_difference(want, got):
    want_lines = want.decode("cp1252").splitlines()
    got_lines = got.decode("cp1252").splitlines()
    for i, (a, b) in enumerate(zip(want_lines, got_lines)):
        if a != b:
            return "line %d: expected %r, read %r" % (i + 1, a[:160], b[:160])
    return "expected %d lines, read %d" % (len(want_lines), len(got_lines))


def original(work):
    theirs = libcreg(SYSTEM_DAT)
    ours = our_dump(SYSTEM_DAT)
    if theirs != ours:
        harness.fail("creg_tool and libcreg read SYSTEM.DAT differently: "
                     + first_difference(theirs, ours))
    print("PASS  creg_tool reads SYSTEM.DAT exactly as libcreg does (%d lines)"
          % len(ours.splitlines()))


def tweak(work, switch):
    expected = with_values(libcreg(SYSTEM_DAT), EXPECTED[switch])
    copy = copy_of_system_dat(work, "SYSTEM.DAT")
    status, output = run([harness.config()["regswitch"], "--registry", copy, switch])
    if status != 0:
        harness.fail("regswitch %s: exit status %d: %s" % (switch, status, output))
    theirs, ours = libcreg(copy), our_dump(copy)
    if theirs != expected:
        harness.fail("libcreg reads other values after %s: %s"
                     % (switch, first_difference(expected, theirs)))
    if ours != expected:
        harness.fail("creg_tool reads other values after %s: %s"
                     % (switch, first_difference(expected, ours)))
    print("PASS  %s: libcreg and creg_tool read exactly the expected values "
          "(%d bytes)" % (switch, os.path.getsize(copy)))


def grow(work, size):
    # The writer's harder cases: a record that grows past its block's free
    # space or out of its block entirely.
    original_dump = libcreg(SYSTEM_DAT)
    copy = copy_of_system_dat(work, "GROW.DAT")
    data = (b"\xab" * int(size)).hex()
    status, output = run([harness.config()["creg_tool"], "set", copy, APM, "Grown", "3",
                          data])
    if status != 0:
        harness.fail("creg_tool set: exit status %d: %s" % (status, output))
    expected = with_values(original_dump, ["V %s|Grown|3|%s" % (APM, data)])
    theirs = libcreg(copy)
    if theirs != expected:
        harness.fail("libcreg reads something else after a %s-byte value was added: %s"
                     % (size, first_difference(expected, theirs)))
    print("PASS  a %s-byte value added: libcreg reads it and everything else unchanged"
          % size)


def cregexport_dma(work):
    cregexport = harness.need_command("cregexport", "libcreg-utils")
    copy = copy_of_system_dat(work, "DMA.DAT")
    status, output = run([harness.config()["regswitch"], "--registry", copy, "/DMA:1"])
    if status != 0:
        harness.fail("regswitch /DMA:1: exit status %d: %s" % (status, output))
    status, output = run([cregexport, copy])
    found = output.count("IDEDMADRIVE")
    if status != 0 or found != 4:
        harness.fail("cregexport after /DMA:1: exit status %d, %d IDEDMADRIVE values "
                     "(4 expected)" % (status, found))
    print("PASS  cregexport lists the four DMA values after /DMA:1")


def truncated(work):
    cut = os.path.join(work, "CUT.DAT")
    with open(SYSTEM_DAT, "rb") as f:
        head = f.read(70000)
    with open(cut, "wb") as f:
        f.write(head)
    status, output = run([harness.config()["regswitch"], "--registry", cut, "/DMA:1"])
    problems = []
    if status != 2:
        problems.append("exit status %d (2 expected)" % status)
    if "not a usable Windows 9x registry file" not in output:
        problems.append("message %r" % output[:200])
    with open(cut, "rb") as f:
        if f.read() != head:
            problems.append("the file was changed")
    if problems:
        harness.fail("a truncated SYSTEM.DAT: " + "; ".join(problems))
    print("PASS  a truncated SYSTEM.DAT is refused: %s" % output[:100])


def main(argv):
    commands = {"original": (original, 0), "tweak": (tweak, 1), "grow": (grow, 1),
                "cregexport-dma": (cregexport_dma, 0), "truncated": (truncated, 0)}
    if len(argv) < 2 or argv[1] not in commands or len(argv) != 2 + commands[argv[1]][1] \
            or (argv[1] == "tweak" and argv[2] not in EXPECTED):
        print(__doc__, file=sys.stderr)
        return 2
    name = "-".join(a.strip("/").replace(":", "-") for a in argv[1:])
    command = commands[argv[1]][0]
    command(harness.fresh_dir("creg", name), *argv[2:])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
