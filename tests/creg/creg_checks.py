#!/usr/bin/env python3
"""Windows 9x registry files (CREG) against libcreg, an independent reader
of the format, on copies of a real Windows 98 SYSTEM.DAT and of Windows
95's own (SYSTEM.1ST, from the shared test data, with --win95):

  creg_checks.py [--win95] original      libcreg reads it exactly as creg_tool does
  creg_checks.py [--win95] tweak SWITCHES e.g. /DMA:1: libcreg and creg_tool
                                         read exactly the values the tweaks
                                         must leave, and the checksums hold
  creg_checks.py [--win95] grow BYTES [KEY]  values of BYTES bytes in all (at most
                                         16,300 each) added by
                                         creg_tool set, read back by libcreg
  creg_checks.py cregexport-dma          cregexport lists the four DMA values after /DMA:1
  creg_checks.py --win95 cregexport-ddc  cregexport lists both DDC values after /DDC:1
  creg_checks.py truncated               a truncated file is refused and left alone
  creg_checks.py --win95 altered         a checksum off by one: the dry run says a
                                         save would be refused, the save is, and
                                         the file is left alone
"""

import os
import shutil
import stat
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "harness"))
import creg95  # noqa: E402
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
    "/DDC:1": [],  # "1" already, as Windows 9x keeps strings
    "/DDC:0": ["V %s|DDC|1|30" % DDC],
    "/DMA:1": ["V %s\\%s|IDEDMADRIVE%d|3|01" % (HDC, c, d)
               for c in ("0001", "0002") for d in (0, 1)],
    "/DMA:0": ["V %s\\%s|IDEDMADRIVE%d|3|00" % (HDC, c, d)
               for c in ("0001", "0002") for d in (0, 1)],
    "/DIN:1": [],  # this machine has no DeskMgmt component
    "/DIN:0": [],
    "/CDP:1": ["V %s|AutoInsertNotification|3|01" % CDROM],
    "/CDP:0": ["V %s|AutoInsertNotification|3|00" % CDROM],
}

# Windows 95's own: two display adapters, the second without a DDC value;
# no IDE controller from MSHDC.INF, no CD-ROM notification value and no
# DeskMgmt component.
DISPLAY = "System\\CurrentControlSet\\Services\\Class\\Display\\%s\\DEFAULT"
FILESYSTEM95 = "System\\CurrentControlSet\\control\\FileSystem"
EXPECTED95 = {
    "/SSP:1": [], "/SSP:0": ["V %s|APMMenuSuspend|3|00" % APM],
    "/ACS:1": ["V %s|ACDriveSpinDown|3|00000000" % FILESYSTEM95],
    "/ACS:0": ["V %s|ACDriveSpinDown|3|00000000" % FILESYSTEM95],
    "/DDC:1": ["V %s|DDC|1|31" % (DISPLAY % a) for a in ("0000", "0001")],
    "/DDC:0": ["V %s|DDC|1|30" % (DISPLAY % a) for a in ("0000", "0001")],
    "/DMA:1": [], "/DMA:0": [], "/CDP:1": [], "/CDP:0": [], "/DIN:1": [], "/DIN:0": [],
}


class Machine:
    """The file a run works on and what each switch must leave in it."""
    def __init__(self, win95):
        self.win95 = win95
        self.path = (harness.shared_testdata("win95", "SYSTEM.1ST") if win95
                     else SYSTEM_DAT)
        self.expected = EXPECTED95 if win95 else EXPECTED


def copy_of_system_dat(work, name, source=SYSTEM_DAT):
    copy = os.path.join(work, name)
    shutil.copyfile(source, copy)
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


def original(work, machine):
    theirs = libcreg(machine.path)
    ours = our_dump(machine.path)
    if theirs != ours:
        harness.fail("creg_tool and libcreg read %s differently: %s"
                     % (machine.path, first_difference(theirs, ours)))
    print("PASS  creg_tool reads %s exactly as libcreg does (%d lines)"
          % (os.path.basename(machine.path), len(ours.splitlines())))


def checksums_kept(machine, copy, what):
    """The copy's checksum fields hold their rule's value where they are in
    force and are as they were where they are stale."""
    with open(machine.path, "rb") as f:
        before = f.read()
    with open(copy, "rb") as f:
        after = f.read()
    wrong = creg95.problems(before, after)
    if wrong:
        harness.fail("after %s: %s" % (what, "; ".join(wrong)))
    return len(creg95.fields(after)) if creg95.carries_checksums(after) else 0


def tweak(work, machine, switches):
    switches = switches.split()
    wanted = [line for switch in switches for line in machine.expected[switch]]
    expected = with_values(libcreg(machine.path), wanted)
    copy = copy_of_system_dat(work, "SYSTEM.DAT", machine.path)
    status, output = run([harness.config()["regswitch"], "--registry", copy] + switches)
    if status != 0:
        harness.fail("regswitch %s: exit status %d: %s" % (switches, status, output))
    theirs, ours = libcreg(copy), our_dump(copy)
    if theirs != expected:
        harness.fail("libcreg reads other values after %s: %s"
                     % (switches, first_difference(expected, theirs)))
    if ours != expected:
        harness.fail("creg_tool reads other values after %s: %s"
                     % (switches, first_difference(expected, ours)))
    fields = checksums_kept(machine, copy, " ".join(switches))
    print("PASS  %s: libcreg and creg_tool read exactly the expected values "
          "(%d bytes; %d checksum fields consistent)" % (" ".join(switches),
                                                    os.path.getsize(copy), fields))


# The most data one value may hold for Windows 9x to keep all of it.
MAX_VALUE_DATA = 16300


def grow(work, machine, size, key=APM):
    # The writer's harder cases: a record that grows past its block's free
    # space or out of its block entirely. SIZE bytes in as few values as
    # Windows 9x keeps them in, saved at once.
    original_dump = libcreg(machine.path)
    copy = copy_of_system_dat(work, "GROW.DAT", machine.path)
    size, values, args = int(size), [], []
    while size > 0:
        data = (b"\xab" * min(size, MAX_VALUE_DATA)).hex()
        name = "Grown%s" % (len(values) + 1 if values else "")
        values.append("V %s|%s|3|%s" % (key, name, data))
        args += [name, "3", data]
        size -= MAX_VALUE_DATA
    status, output = run([harness.config()["creg_tool"], "set", copy, key] + args)
    if status != 0:
        harness.fail("creg_tool set: exit status %d: %s" % (status, output))
    expected = with_values(original_dump, values)
    theirs = libcreg(copy)
    if theirs != expected:
        harness.fail("libcreg reads something else after a %s-byte value was added: %s"
                     % (size, first_difference(expected, theirs)))
    checksums_kept(machine, copy, "a %s-byte value" % size)
    print("PASS  a %s-byte value added to %s: libcreg reads it and everything else "
          "unchanged" % (size, key))


def cregexport_values(work, machine, switch, name, count):
    cregexport = harness.need_command("cregexport", "libcreg-utils")
    copy = copy_of_system_dat(work, "EXPORT.DAT", machine.path)
    status, output = run([harness.config()["regswitch"], "--registry", copy, switch])
    if status != 0:
        harness.fail("regswitch %s: exit status %d: %s" % (switch, status, output))
    status, output = run([cregexport, copy])
    found = sum(1 for line in output.splitlines()
                if line.startswith("Value: ") and line.split(" ", 2)[2:] == [name])
    if status != 0 or found != count:
        harness.fail("cregexport after %s: exit status %d, %d %s values (%d expected)"
                     % (switch, status, found, name, count))
    print("PASS  cregexport lists the %d %s values after %s" % (count, name, switch))


def cregexport_dma(work, machine):
    for drive in ("IDEDMADRIVE0", "IDEDMADRIVE1"):
        cregexport_values(work, machine, "/DMA:1", drive, 2)


def cregexport_ddc(work, machine):
    cregexport_values(work, machine, "/DDC:1", "DDC", 2)


def truncated(work, machine):
    cut = os.path.join(work, "CUT.DAT")
    with open(machine.path, "rb") as f:
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


def altered(work, machine):
    """A checksum in force off by one (data block 7's in Windows 95's file):
    the dry run says first that a save would be refused, the save is."""
    with open(machine.path, "rb") as f:
        data = bytearray(f.read())
    field = next(f for f in creg95.fields(data) if f.what == "data block 7")
    if field.stale:
        harness.fail("data block 7 of %s is stale; pick a block in force" % machine.path)
    struct.pack_into("<I", data, field.field_at, (field.stored + 1) & 0xFFFFFFFF)
    copy = os.path.join(work, "ALTERED.DAT")
    with open(copy, "wb") as f:
        f.write(data)
    regswitch = harness.config()["regswitch"]
    done = subprocess.run([regswitch, "--registry", copy, "--dry-run", "/SSP:0"],
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    problems = []
    warning = done.stderr.decode("utf-8", "replace")
    want = "%s: a save would be refused: the checksum of data block 7" % copy
    if done.returncode != 0 or not warning.startswith("regswitch: " + want):
        problems.append("dry run: status %d, standard error %r" % (done.returncode, warning))
    if b"APMMenuSuspend" not in done.stdout:
        problems.append("the dry run does not show the change")
    status, output = run([regswitch, "--registry", copy, "/SSP:0"])
    if status != 2 or "the checksum of data block 7" not in output:
        problems.append("save: exit status %d, %r" % (status, output[:200]))
    with open(copy, "rb") as f:
        if f.read() != bytes(data):
            problems.append("the file was changed")
    if problems:
        harness.fail("a checksum off by one: " + "; ".join(problems))
    print("PASS  a checksum off by one: the dry run warns first, the save is refused: %s"
          % output[:160])


def main(argv):
    args = argv[1:]
    win95 = bool(args) and args[0] == "--win95"
    if win95:
        args = args[1:]
    commands = {"original": (original, 0, 0), "tweak": (tweak, 1, 1), "grow": (grow, 1, 2),
                "cregexport-dma": (cregexport_dma, 0, 0),
                "cregexport-ddc": (cregexport_ddc, 0, 0),
                "truncated": (truncated, 0, 0), "altered": (altered, 0, 0)}
    command = commands.get(args[0]) if args else None
    if command is None or not command[1] <= len(args) - 1 <= command[2]:
        print(__doc__, file=sys.stderr)
        return 2
    machine = Machine(win95)
    if args[0] == "tweak" and any(s not in machine.expected for s in args[1].split()):
        print(__doc__, file=sys.stderr)
        return 2
    name = "-".join(a.strip("/-").replace(":", "-").replace(" ", "_").replace("\\", "_")
                    for a in argv[1:])
    command[0](harness.fresh_dir("creg", name), machine, *args[1:])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
