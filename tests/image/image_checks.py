#!/usr/bin/env python3
"""regswitch --image on disk images made here with sfdisk, mkfs.fat and
mtools around the real Windows 98 SYSTEM.DAT. After each run SYSTEM.DAT is
copied out with mcopy and read with libcreg.

  image_checks.py apply LAYOUT   --dry-run, /DMA:1, the same again, /DMA:0
  image_checks.py refused CASE   one bad input: exit 2, what was found, the
                                 image untouched
  image_checks.py interrupted MODE
                                 the run stopped at each mtools command
                                 (kill-before, kill-during, term-during)
  image_checks.py concurrent     runs at once with different switches
  image_checks.py merge          --merge FILE.reg into the image's SYSTEM.DAT
"""

import os
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "harness"))
sys.path.insert(0, os.path.join(HERE, "..", "creg"))
import creg95  # noqa: E402
import harness  # noqa: E402
import images  # noqa: E402
from creg_checks import EXPECTED, EXPECTED95, first_difference, libcreg, with_values  # noqa: E402

WINDOWS = "\\WINDOWS"


# --- The images --------------------------------------------------------------
# Each maker puts an image in WORK and returns (image, the volume with
# Windows, its folder, the other arguments the run needs, a decoy
# SYSTEM.DAT path on that volume that must stay as it is, or None).

def bare(bits, mib):
    def make(work):
        path = os.path.join(work, "win98.img")
        volume = images.make_disk(path, mib, bare_bits=bits)[0]
        images.install_windows(volume, work)
        return path, volume, WINDOWS, [], None
    return make


def primary(bits, start, sectors, kind, vhd=False):
    def make(work):
        path = os.path.join(work, "win98.vhd" if vhd else "win98.img")
        volume = images.make_disk(path, 48, [(start, sectors, kind, bits, True)], vhd=vhd)[1]
        images.install_windows(volume, work, msdos_sys=b"[Paths]\r\nWinDir=C:\\WINDOWS\r\n")
        return path, volume, WINDOWS, [], None
    return make


def named_folder(work):
    # MSDOS.SYS names \WIN98 (in small letters); an old \WINDOWS beside it
    # stays as it is.
    path = os.path.join(work, "win98.img")
    volume = images.make_disk(path, 48, [(63, 60000, "6", 16, True)])[1]
    images.install_windows(volume, work, "\\WIN98",
                           b"[Paths]\r\nWinDir=c:\\win98\r\nWinBootDir=C:\\WIN98\r\n" +
                           b";" + b"x" * 70 + b"\r\n")
    images.install_windows(volume, work, WINDOWS)
    return path, volume, "\\WIN98", [], WINDOWS + "\\SYSTEM.DAT"


def logical_drive(work):
    # C: starts the machine and its MSDOS.SYS names D:\WIN98, the first
    # logical drive.
    path = os.path.join(work, "win98.img")
    volumes = images.make_disk(path, 96, [(63, 40000, "6", 16, True),
                                          (40960, 150000, "5", None, False),
                                          (43008, 140000, "c", 32, False)])
    volumes[1].put_text(work, b"[Paths]\r\nWinDir=D:\\WIN98\r\n", "\\MSDOS.SYS")
    images.install_windows(volumes[5], work, "\\WIN98")
    return path, volumes[5], "\\WIN98", [], None


def second_partition(work):
    path = os.path.join(work, "win98.img")
    volumes = images.make_disk(path, 64, [(63, 40000, "6", 16, True),
                                          (40960, 80000, "e", 16, False)])
    images.install_windows(volumes[1], work)
    images.install_windows(volumes[2], work)
    return path, volumes[2], WINDOWS, ["--partition", "2"], None


def windows95(work):
    # Windows 95's own registry, whose checksums a save keeps right.
    source = harness.shared_testdata("win95", "SYSTEM.1ST")
    path = os.path.join(work, "win95.img")
    volume = images.make_disk(path, 48, [(63, 60000, "6", 16, True)])[1]
    images.install_windows(volume, work, msdos_sys=b"[Paths]\r\nWinDir=C:\\WINDOWS\r\n",
                           source=source)
    return path, volume, WINDOWS, [], None


LAYOUTS = {
    "bare-fat16": bare(16, 24),
    "bare-fat32": bare(32, 40),
    "mbr-fat16": primary(16, 63, 60000, "6"),
    "mbr-fat32-lba": primary(32, 2048, 90000, "c"),
    "fixed-vhd": primary(16, 63, 60000, "e", vhd=True),
    "windir": named_folder,
    "logical-drive": logical_drive,
    "chosen-partition": second_partition,
    "windows-95": windows95,
}

# The switches each run of `apply` gives, and what they leave: Windows 95's
# file has no DMA values to set.
RUNS = {"windows-95": (EXPECTED95, "/DDC:1", "/DDC:0 /SSP:0")}
RUNS_98 = (EXPECTED, "/DMA:1", "/DMA:0 /CDP:1")


# --- Runs and checks ---------------------------------------------------------

def regswitch(args, env=None):
    command = [harness.config()["regswitch"]] + args
    if env is not None and "HOOK_DIR" in env:
        # The hook signals the run itself, whichever process starts mtools.
        command = ["sh", "-c", 'echo $$ > "$HOOK_DIR/run.pid"; exec "$0" "$@"'] + command
    done = subprocess.run(command, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=120, env=env)
    return done.returncode, done.stdout.decode("utf-8", "replace"), \
        done.stderr.decode("utf-8", "replace")


class Machine:
    """An image and what it held before the runs."""

    def __init__(self, work, make, table=EXPECTED):
        self.work, self.table = work, table
        self.image, self.volume, self.folder, self.args, self.decoy = make(work)
        self.dat = self.folder + "\\SYSTEM.DAT"
        self.attributes = self.volume.attributes(self.dat)
        original = os.path.join(work, "original.dat")
        self.volume.get(self.dat, original)
        with open(original, "rb") as f:
            self.original_bytes = f.read()
        self.original = libcreg(original)
        self.untouched = {p: self.read(p) for p in [self.folder + "\\SYSTEM.DA0", self.decoy]
                          if p}
        self.outside = images.digest_outside(self.image, self.volume)

    def read(self, path):
        local = os.path.join(self.work, "out.bin")
        if not self.volume.get(path, local):
            return None
        with open(local, "rb") as f:
            return f.read(), self.volume.attributes(path)

    def check(self, checks, label, expected_dump, temporary_allowed=False):
        """SYSTEM.DAT reads as EXPECTED_DUMP, with its attributes; nothing
        else changed; the file system is clean."""
        local = os.path.join(self.work, "SYSTEM.DAT")
        if not checks.check(label + ": SYSTEM.DAT is there", self.volume.get(self.dat, local)):
            return
        dump = libcreg(local)
        checks.check(label + ": libcreg reads exactly the intended values",
                     dump == expected_dump,
                     "" if dump == expected_dump else first_difference(expected_dump, dump))
        with open(local, "rb") as f:
            wrong = creg95.problems(self.original_bytes, f.read())
        checks.check(label + ": checksums hold (where the file has them)", not wrong, "; ".join(wrong))
        checks.check(label + ": attributes kept", self.volume.attributes(self.dat) ==
                     self.attributes, repr(self.volume.attributes(self.dat)))
        for path, before in self.untouched.items():
            checks.check(label + ": %s as it was" % path, self.read(path) == before)
        checks.check(label + ": nothing outside the volume changed",
                     images.digest_outside(self.image, self.volume) == self.outside)
        if not temporary_allowed:
            temporary = self.volume.attributes(self.folder + "\\REGSWTCH.TMP")
            checks.check(label + ": no REGSWTCH.TMP", temporary is None)
        clean, output = self.volume.fsck(self.work)
        checks.check(label + ": fsck.fat -n finds nothing", clean, "" if clean else output)

    def expected(self, *switches):
        return with_values(self.original, [v for s in switches for v in self.table[s]])


def apply(work, layout):
    table, first, second = RUNS.get(layout, RUNS_98)
    checks = harness.Checks()
    m = Machine(work, LAYOUTS[layout], table)
    before = images.digest(m.image)
    status, out, err = regswitch(["--image", m.image, "--dry-run"] + m.args + [first])
    names = ['"%s"=' % line.split("|")[1] for line in table[first]]
    checks.check("--dry-run prints the values %s would set" % first,
                 status == 0 and all(out.count(n) == names.count(n) for n in names),
                 "status %d: %s%s" % (status, out, err))
    checks.check("--dry-run leaves the image byte for byte",
                 images.digest(m.image) == before)
    setting = re.compile(r"^%s +on " % first[1:4], re.M)
    status, out, err = regswitch(["--image", m.image, "--show"] + m.args)
    checks.check("--show: %s not yet on, the image byte for byte" % first[1:4],
                 status == 0 and out.startswith("SSP ") and not setting.search(out)
                 and images.digest(m.image) == before, out + err)
    status, out, err = regswitch(["--image", m.image] + m.args + [first])
    checks.check("%s exits 0 and prints nothing" % first, (status, out, err) == (0, "", ""),
                 "status %d: %s%s" % (status, out, err))
    m.check(checks, first, m.expected(first))
    after = images.digest(m.image)
    status, out, err = regswitch(["--image", m.image, "--show"] + m.args)
    checks.check("--show: %s on" % first[1:4], status == 0 and setting.search(out), out + err)
    status, out, err = regswitch(["--image", m.image] + m.args + [first])
    checks.check("%s again changes no byte" % first, status == 0 and
                 images.digest(m.image) == after, err)
    status, out, err = regswitch(["--image", m.image] + m.args + second.split())
    checks.check("%s exits 0" % second, status == 0, err)
    m.check(checks, second, m.expected(*second.split()))
    checks.finish()


# --- Bad input -----------------------------------------------------------------

def file_with(work, head):
    path = os.path.join(work, "disk.img")
    with open(path, "wb") as f:
        f.write(head)
        f.truncate(1 << 20)
    return path


def windows_image(work, folder=True, dat=True, size=24, bits=16):
    path = os.path.join(work, "win98.img")
    kind = "6" if bits == 16 else "1"
    volume = images.make_disk(path, size, [(63, size * 2048 - 100, kind, bits, True)])[1]
    if folder:
        volume.mkdir(WINDOWS)
    if dat:
        volume.put(dat, WINDOWS + "\\SYSTEM.DAT", "+r +s +h")
    return path


def dat_file(work, contents):
    path = os.path.join(work, "bad.dat")
    with open(path, "wb") as f:
        f.write(contents)
    return path


def system_dat_head(size):
    with open(images.SYSTEM_DAT, "rb") as f:
        return f.read(size)


def no_fat(work):
    path = os.path.join(work, "linux.img")
    images.make_disk(path, 8, [(2048, 8000, "83", None, True)])
    return path


def unformatted(work):
    path = os.path.join(work, "blank.img")
    images.make_disk(path, 8, [(63, 8000, "6", None, True)])
    return path


def two_windows(work):
    return second_partition(work)[0]


def locked_run(image, args):
    """The run while another program (as QEMU does) holds a lock on the image."""
    holder = subprocess.Popen([sys.executable, "-c",
                               "import fcntl, sys, time\n"
                               "f = open(sys.argv[1], 'rb')\n"
                               "fcntl.lockf(f, fcntl.LOCK_SH, 1, 100)\n"
                               "print('locked', flush=True)\n"
                               "time.sleep(60)\n", image], stdout=subprocess.PIPE)
    holder.stdout.readline()
    try:
        return regswitch(args)
    finally:
        holder.kill()
        holder.wait()


def read_only_run(image, args):
    os.chmod(image, 0o444)
    return regswitch(args)


def tmpdir_full(image, args):
    """TMPDIR on a file system with no room for the run's copies: a small
    tmpfs, mounted for the run (this needs root)."""
    small = harness.fresh_dir("image", "small-tmpdir")
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=128k", "tmpfs", small],
                          capture_output=True)
    if done.returncode != 0:
        harness.missing("a tmpfs mounted as TMPDIR (root): " + done.stderr.decode().strip())
    try:
        return regswitch(args, env=dict(os.environ, TMPDIR=small))
    finally:
        subprocess.run(["umount", small], capture_output=True)


def without_mtools(image, args):
    bare_path = os.path.join(os.path.dirname(image), "bin")
    os.makedirs(bare_path, exist_ok=True)
    return regswitch(args, env=dict(os.environ, PATH=bare_path))


# Each case: (make the image, extra arguments, how to run, the message, whether
# the image stays byte for byte).
REFUSED = {
    "missing": (lambda w: os.path.join(w, "none.img"), [], None,
                "none.img: cannot open: No such file or directory", True),
    "folder": (lambda w: w, [], None, "not a regular file", True),
    "broken-qcow2": (lambda w: file_with(w, b"QFI\xfb\x00\x00\x00\x03"), [], None,
                     "disk.img: a qcow2 image that QEMU cannot open: QEMU: ", True),
    "no-fat-partition": (no_fat, [], None,
                         "no FAT partition in its partition table (partition 1: type "
                         "0x83, not FAT)", True),
    "broken-file-system": (unformatted, [], None,
                           "no Windows folder found: partition 1 (C:, FAT16): cannot "
                           "read its file system", True),
    "no-windows-folder": (lambda w: windows_image(w, folder=False, dat=False), [], None,
                          "no Windows folder found: partition 1 (C:, FAT16): no "
                          "C:\\WINDOWS", True),
    "no-system-dat": (lambda w: windows_image(w, dat=False), [], None,
                      "partition 1: no SYSTEM.DAT in C:\\WINDOWS", True),
    "broken-system-dat": (lambda w: windows_image(w, dat=dat_file(w, system_dat_head(70000))),
                          [], None, "partition 1: C:\\WINDOWS\\SYSTEM.DAT: not a usable "
                          "Windows 9x registry file", True),
    "not-a-registry": (lambda w: windows_image(w, dat=dat_file(w, b"REGEDIT4\r\n")), [],
                       None, "C:\\WINDOWS\\SYSTEM.DAT: not a Windows 9x registry file", True),
    "two-windows-folders": (two_windows, [], None,
                            "Windows folders on partition 1 (C:, FAT16) C:\\WINDOWS and "
                            "partition 2 (D:, FAT16 LBA) D:\\WINDOWS; choose one with "
                            "--partition N", True),
    "no-such-partition": (two_windows, ["--partition", "3"], None,
                          "no partition 3; its FAT partitions are 1, 2", True),
    "in-use": (lambda w: windows_image(w, dat=images.SYSTEM_DAT), [], locked_run,
               "holds a lock on the image: is a virtual machine running from it? Shut "
               "the guest down first; nothing was changed", True),
    "read-only": (lambda w: windows_image(w, dat=images.SYSTEM_DAT), [], read_only_run,
                  "win98.img: read-only (its owner has no write permission)", True),
    "no-mtools": (lambda w: windows_image(w, dat=images.SYSTEM_DAT), [], without_mtools,
                  "mtools is missing (Debian package mtools)", True),
    "tmpdir-full": (lambda w: windows_image(w, dat=images.SYSTEM_DAT), [], tmpdir_full,
                    "win98.img: TMPDIR (", True),
    "disk-full": (lambda w: windows_image(w, dat=images.SYSTEM_DAT, size=2, bits=12), [], None,
                  "cannot write the new file into the image: mcopy: Disk full; "
                  "C:\\WINDOWS\\SYSTEM.DAT was left as it was", True),
}


def refused(work, case):
    make, extra, how, message, untouched = REFUSED[case]
    checks = harness.Checks()
    image = make(work)
    tmp = harness.fresh_dir("image", "refused-tmp-" + case)
    before = images.digest(image) if os.path.isfile(image) else None
    args = ["--image", image] + extra + ["/DMA:1"]
    os.environ["TMPDIR"] = tmp
    status, out, err = (how or (lambda i, a: regswitch(a)))(image, args)
    checks.check("exit status 2", status == 2, "status %d" % status)
    checks.check("says what was found", message in err, err.strip())
    checks.check("one line on standard error, none on standard output",
                 out == "" and err.count("\n") == 1, repr(out + err))
    checks.check("no work folder left", os.listdir(tmp) == [], repr(os.listdir(tmp)))
    if before is not None and untouched:
        checks.check("the image is byte for byte as it was", images.digest(image) == before)
    if case == "tmpdir-full":
        checks.check("names TMPDIR, the room it has and the room needed",
                     " free, and the run needs about " in err and
                     "set TMPDIR to a folder with room; nothing was changed" in err, err)
    if case == "read-only":
        status, out, err = regswitch(["--image", image, "--dry-run", "/DMA:1"])
        checks.check("a dry run reads it", status == 0 and "IDEDMADRIVE" in out, err)
    if case == "disk-full":
        size = 2 * 2048 - 100
        volume = images.Volume(image, 63 * 512, size * 512)
        local = os.path.join(work, "SYSTEM.DAT")
        checks.check("SYSTEM.DAT is the old one", volume.get(WINDOWS + "\\SYSTEM.DAT", local)
                     and images.digest(local) == images.digest(images.SYSTEM_DAT))
        checks.check("no REGSWTCH.TMP", volume.attributes(WINDOWS + "\\REGSWTCH.TMP") is None)
        clean, output = volume.fsck(work)
        checks.check("fsck.fat -n finds nothing", clean, "" if clean else output)
    checks.finish()


# --- A run stopped at each of its mtools commands ---------------------------------

HOOK = """#!/bin/sh
# Counts the run's mtools commands; at number $HOOK_AT signals the run
# (whose process id is in $HOOK_DIR/run.pid) before the command, and with HOOK_MODE=before does not run it;
# with HOOK_MODE=after signals it once the command has run.
n=$(( $(cat "$HOOK_DIR/count") + 1 ))
echo "$n" > "$HOOK_DIR/count"
name=$(basename "$0")
if [ "$n" = "$HOOK_AT" ]; then
  case "$HOOK_MODE" in
    before) kill -s "$HOOK_SIGNAL" "$(cat "$HOOK_DIR/run.pid")"; touch "$HOOK_DIR/done"; exit 1 ;;
    after) ;;
    *) kill -s "$HOOK_SIGNAL" "$(cat "$HOOK_DIR/run.pid")" ;;
  esac
fi
"$HOOK_REAL/$name" "$@"
status=$?
if [ "$n" = "$HOOK_AT" ]; then
  [ "$HOOK_MODE" = after ] && kill -s "$HOOK_SIGNAL" "$(cat "$HOOK_DIR/run.pid")"
  touch "$HOOK_DIR/done"
fi
exit $status
"""


def hooked_env(work, at, mode, sig):
    hook = os.path.join(work, "hook")
    shutil.rmtree(hook, ignore_errors=True)
    os.makedirs(os.path.join(hook, "bin"))
    os.makedirs(os.path.join(hook, "tmp"))
    real = os.path.dirname(images.tool("mcopy", "mtools"))
    for name in ("mattrib", "mcopy", "mdel", "mren"):
        script = os.path.join(hook, "bin", name)
        with open(script, "w") as f:
            f.write(HOOK)
        os.chmod(script, 0o755)
    with open(os.path.join(hook, "count"), "w") as f:
        f.write("0\n")
    return hook, dict(os.environ, PATH=os.path.join(hook, "bin") + ":" + os.environ["PATH"],
                      HOOK_DIR=hook, HOOK_AT=str(at), HOOK_MODE=mode, HOOK_SIGNAL=sig,
                      HOOK_REAL=real, TMPDIR=os.path.join(hook, "tmp"))


MODES = {"kill-before": ("before", "KILL"), "kill-during": ("during", "KILL"),
         "term-during": ("during", "TERM")}


def interrupted(work, mode):
    when, sig = MODES[mode]
    checks = harness.Checks()
    template = Machine(work, LAYOUTS["mbr-fat16"])
    pristine = os.path.join(work, "pristine.img")
    shutil.copyfile(template.image, pristine)
    new = template.expected("/DMA:1")
    hook, env = hooked_env(work, 0, when, sig)
    status, _, err = regswitch(["--image", template.image, "/DMA:1"], env)
    with open(os.path.join(hook, "count")) as f:
        steps = int(f.read())
    checks.check("a whole run through the hook (%d mtools commands)" % steps,
                 status == 0 and steps >= 4, err)
    for at in range(1, steps + 1):
        shutil.copyfile(pristine, template.image)
        hook, env = hooked_env(work, at, when, sig)
        status, _, err = regswitch(["--image", template.image, "/DMA:1"], env)
        label = "%s at command %d" % (mode, at)
        if sig == "KILL":
            deadline = time.time() + 30
            while not os.path.exists(os.path.join(hook, "done")) and time.time() < deadline:
                time.sleep(0.05)
        else:
            checks.check(label + ": ended by SIGTERM", status == -signal.SIGTERM,
                         "status %d: %s" % (status, err))
            checks.check(label + ": no work folder left",
                         os.listdir(os.path.join(hook, "tmp")) == [])
        local = os.path.join(work, "SYSTEM.DAT")
        template.volume.get(template.dat, local)
        dump = libcreg(local)
        checks.check(label + ": SYSTEM.DAT is the whole old or new one",
                     dump in (template.original, new),
                     "the new one" if dump == new else "the old one")
        template.check(checks, label, dump, temporary_allowed=sig == "KILL")
        status, _, err = regswitch(["--image", template.image, "/DMA:1"])
        checks.check(label + ": the next run exits 0", status == 0, err)
        template.check(checks, label + ", run again", new)
    checks.finish()


def merge(work):
    """--merge on an image: the .reg file's value and the switch's both land."""
    checks = harness.Checks()
    m = Machine(work, LAYOUTS["mbr-fat16"])
    reg = os.path.join(work, "apm.reg")
    with open(reg, "wb") as f:
        f.write(b"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\r\n"
                b"\"APMMenuSuspend\"=hex:00\r\n")
    status, out, err = regswitch(["--image", m.image, "--merge", reg, "/DMA:1"])
    checks.check("exits 0", status == 0, out + err)
    m.check(checks, "--merge apm.reg /DMA:1", m.expected("/SSP:0", "/DMA:1"))
    status, out, err = regswitch(["--image", m.image, "--user", reg, "--merge", reg])
    checks.check("--user with --image is a usage error", status == 2 and
                 "--user goes with --registry, not --image" in err, err)
    checks.finish()


# --- Runs at once ------------------------------------------------------------

def concurrent(work):
    checks = harness.Checks()
    m = Machine(work, LAYOUTS["bare-fat16"])
    pristine = os.path.join(work, "pristine.img")
    shutil.copyfile(m.image, pristine)
    for round_ in range(3):
        shutil.copyfile(pristine, m.image)
        runs = [subprocess.Popen([harness.config()["regswitch"], "--image", m.image, s],
                                 stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
                for s in ("/DMA:1", "/CDP:1", "/DDC:1")]
        statuses = [r.wait(timeout=120) for r in runs]
        checks.check("round %d: every run exits 0" % round_, statuses == [0, 0, 0],
                     repr(statuses))
        m.check(checks, "round %d" % round_, m.expected("/DMA:1", "/CDP:1", "/DDC:1"))
    checks.finish()


def main(argv):
    harness.need_module("pycreg", "python3-libcreg")
    for name, package in (("mcopy", "mtools"), ("mkfs.fat", "dosfstools"),
                          ("fsck.fat", "dosfstools"), ("sfdisk", "fdisk")):
        images.tool(name, package)
    commands = {"apply": (apply, LAYOUTS), "refused": (refused, REFUSED),
                "interrupted": (interrupted, MODES), "concurrent": (concurrent, None),
                "merge": (merge, None)}
    if len(argv) < 2 or argv[1] not in commands or \
            (commands[argv[1]][1] is not None and (len(argv) != 3 or
                                                    argv[2] not in commands[argv[1]][1])):
        print(__doc__, file=sys.stderr)
        return 2
    command, _ = commands[argv[1]]
    command(harness.fresh_dir("image", "-".join(argv[1:])), *argv[2:])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
