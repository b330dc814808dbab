#!/usr/bin/env python3
"""regswitch --image on crafted images that once lost data or changed the
wrong file, and merges that reach USER.DAT as well as SYSTEM.DAT.

  fault_checks.py fault CASE    volume-past-partition, volume-past-footer,
                                long-name-decoy, killed-writer, long-msdos-sys
  fault_checks.py user CASE     raw, qcow2: a merge changes both files;
                                profiles: refused with the list;
                                killed: both files old or both new
"""

import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "harness"))
sys.path.insert(0, os.path.join(HERE, "..", "creg"))
import harness  # noqa: E402
import images  # noqa: E402
import image_checks as base  # noqa: E402
import format_checks as formats  # noqa: E402
from creg_checks import EXPECTED, first_difference, libcreg, with_values  # noqa: E402

USER_DAT = harness.source_path("tests", "data", "win9x", "USER.DAT")
WINDOWS = "\\WINDOWS"


def filler(volume, work, name, size):
    """A file of SIZE bytes, so that what is written next lies behind it."""
    local = os.path.join(work, "filler.bin")
    with open(local, "wb") as f:
        f.write(b"\xA5" * size)
    volume.put(local, name)
    os.remove(local)


def outcome(image, args):
    before = images.digest(image)
    status, out, err = base.regswitch(["--image", image] + args)
    return status, out, err, images.digest(image) == before


# --- The five faults ----------------------------------------------------------

def volume_past_partition(work, checks):
    # The boot sector claims 70,000 sectors; the partition holds 60,000 and a
    # Linux partition follows. The volume is nearly full, so that a new
    # SYSTEM.DAT would have gone past the partition's end.
    path = os.path.join(work, "win98.img")
    images.make_disk(path, 48, [(63, 60000, "6", None, True),
                                (60063, 30000, "83", None, False)])
    images.mkfs(path, 16, 63, 70000)
    volume = images.Volume(path, 63 * 512, 70000 * 512)
    filler(volume, work, "\\FILLER.BIN", 27 << 20)
    images.install_windows(volume, work)
    status, out, err, same = outcome(path, ["/DMA:1"])
    checks.check("refused", status == 2 and "its FAT file system claims " in err and
                 "more than the 60000 sectors of 512 bytes of its partition" in err, err)
    checks.check("the image byte for byte", same)


def volume_past_footer(work, checks):
    # A fixed VHD whose FAT volume claims the footer's sector too, so full
    # that the new SYSTEM.DAT (599 clusters of 2 KB) takes its last cluster.
    path = os.path.join(work, "win98.vhd")
    volume = images.make_disk(path, 24, bare_bits=16)[0]
    images.install_windows(volume, work)
    free = int(volume._m("mdir", "-a", "::/")[1].split("bytes free")[0].split("\n")[-1]
               .replace(" ", ""))
    filler(volume, work, "\\FILLER.BIN", free - 599 * 2048)
    with open(path, "r+b") as f:
        f.seek(-512, 2)
        footer = bytearray(512)
        footer[0:8] = b"conectix"
        footer[60:64] = (2).to_bytes(4, "big")
        f.write(footer)
    status, out, err, same = outcome(path, ["/DMA:1"])
    checks.check("refused", status == 2 and "more than the 49151 sectors of 512 bytes the disk "
                 "holds before its end" in err, err)
    checks.check("the image byte for byte, its footer last", same)


def long_name_decoy(work, checks):
    # SYSTEM~1.DAT, whose long name is SYSTEM.DAT, stands before the 8.3
    # SYSTEM.DAT that real-mode Windows loads.
    path = os.path.join(work, "win98.img")
    volume = images.make_disk(path, 48, [(63, 60000, "6", 16, True)])[1]
    volume.mkdir(WINDOWS)
    volume.put_text(work, b"not the registry\r\n" * 100, WINDOWS + "\\SYSTEMXX.DATA")
    # The real file goes in under another name (mtools would take the decoy
    # for SYSTEM.DAT), then both directory entries are renamed in place.
    volume.put(images.SYSTEM_DAT, WINDOWS + "\\REAL.DAT", "+r +s +h -a")
    with open(path, "r+b") as f:
        data = bytearray(f.read())
        at = data.find("SYSTEMXX.DATA".encode("utf-16-le")[:10])
        real = data.find(b"REAL    DAT")
        if at < 0 or real < 0:
            harness.fail("the directory entries were not found")
        entry = at - 1
        long_name = "SYSTEM.DAT".encode("utf-16-le") + b"\0\0" + b"\xff" * 4
        data[entry + 1:entry + 11] = long_name[0:10]
        data[entry + 14:entry + 26] = long_name[10:22]
        data[entry + 28:entry + 32] = long_name[22:26]
        data[real:real + 11] = b"SYSTEM  DAT"
        f.seek(0)
        f.write(data)
    checks.check("the decoy's long name is SYSTEM.DAT",
                 volume.attributes(WINDOWS + "\\SYSTEM~1.DAT") is not None and
                 volume.attributes(WINDOWS + "\\SYSTEM.DAT") is not None)
    status, out, err = base.regswitch(["--image", path, "--show"])
    checks.check("--show reads the 8.3 SYSTEM.DAT", status == 0 and out.startswith("SSP "), err)
    status, out, err, same = outcome(path, ["/DMA:1"])
    checks.check("a change is refused", status == 2 and "C:\\WINDOWS holds SYSTEM~1.DAT, whose "
                 "long name is SYSTEM.DAT, besides the file of that 8.3 name" in err, err)
    checks.check("the image byte for byte", same)


SLOW_MCOPY = """#!/bin/sh
# mcopy, slow when it writes the new file; the times each writer ran.
case "$*" in *"-D o"*)
  echo "start $(date +%%s.%%N)" >> "%(log)s"; sleep 2
  "%(real)s" "$@"; status=$?
  echo "end $(date +%%s.%%N)" >> "%(log)s"; exit $status ;;
esac
exec "%(real)s" "$@"
"""


def killed_writer(work, checks):
    # The first run is killed while its writer runs; the second must not
    # write the FAT before that writer has ended.
    path = os.path.join(work, "win98.img")
    volume = images.make_disk(path, 48, [(63, 60000, "6", 16, True)])[1]
    images.install_windows(volume, work)
    original = os.path.join(work, "original.dat")
    volume.get(WINDOWS + "\\SYSTEM.DAT", original)
    hook = os.path.join(work, "bin")
    os.makedirs(hook)
    log = os.path.join(work, "writers.log")
    with open(os.path.join(hook, "mcopy"), "w") as f:
        f.write(SLOW_MCOPY % {"log": log, "real": images.tool("mcopy", "mtools")})
    os.chmod(os.path.join(hook, "mcopy"), 0o755)
    env = dict(os.environ, PATH=hook + ":" + os.environ["PATH"])
    first = subprocess.Popen([harness.config()["regswitch"], "--image", path, "/DMA:1"],
                             env=env, stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 30
    while not (os.path.exists(log) and "start" in open(log).read()):
        if time.time() > deadline:
            harness.fail("the first run's writer did not start")
        time.sleep(0.02)
    first.kill()
    first.wait()
    status, _, err = base.regswitch(["--image", path, "/DMA:1", "/CDP:0"], env)
    checks.check("the second run exits 0", status == 0, err)
    times = [line.split() for line in open(log).read().splitlines()]
    checks.check("its writer started after the first one had ended",
                 len(times) >= 3 and times[0][0] == "start" and times[1][0] == "end" and
                 float(times[2][1]) >= float(times[1][1]), repr(times))
    local = os.path.join(work, "SYSTEM.DAT")
    volume.get(WINDOWS + "\\SYSTEM.DAT", local)
    dump = libcreg(local)
    expected = with_values(libcreg(original), EXPECTED["/DMA:1"] + EXPECTED["/CDP:0"])
    checks.check("SYSTEM.DAT is the second run's", dump == expected,
                 "" if dump == expected else first_difference(expected, dump))
    clean, output = volume.fsck(work)
    checks.check("fsck.fat -n finds nothing", clean, "" if clean else output)


def long_msdos_sys(work, checks):
    # WinDir after 70 KB of comments names \WIN98; an old \WINDOWS stays.
    path = os.path.join(work, "win98.img")
    volume = images.make_disk(path, 48, [(63, 60000, "6", 16, True)])[1]
    images.install_windows(volume, work, "\\WIN98")
    images.install_windows(volume, work, WINDOWS)
    text = b"[Options]\r\n" + (b";" + b"x" * 68 + b"\r\n") * 1024 + \
        b"[Paths]\r\nWinDir=C:\\WIN98\r\n"
    volume.put_text(work, text, "\\MSDOS.SYS")
    old = os.path.join(work, "old.dat")
    volume.get(WINDOWS + "\\SYSTEM.DAT", old)
    status, out, err = base.regswitch(["--image", path, "/DMA:1"])
    checks.check("exits 0", status == 0, err)
    local = os.path.join(work, "SYSTEM.DAT")
    volume.get("\\WIN98\\SYSTEM.DAT", local)
    checks.check("\\WIN98\\SYSTEM.DAT changed",
                 libcreg(local) == with_values(libcreg(images.SYSTEM_DAT), EXPECTED["/DMA:1"]))
    volume.get(WINDOWS + "\\SYSTEM.DAT", local)
    checks.check("\\WINDOWS\\SYSTEM.DAT as it was", images.digest(local) == images.digest(old))


FAULTS = {"volume-past-partition": volume_past_partition,
          "volume-past-footer": volume_past_footer,
          "long-name-decoy": long_name_decoy, "killed-writer": killed_writer,
          "long-msdos-sys": long_msdos_sys}


# --- USER.DAT through --image ---------------------------------------------------

MERGE = (b"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\r\n"
         b"\"APMMenuSuspend\"=hex:00\r\n\r\n"
         b"[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"
         b"\"wallpaper\"=\"C:\\\\WINDOWS\\\\CLOUDS.BMP\"\r\n")
WALLPAPER = "V .DEFAULT\\Control Panel\\Desktop|wallpaper|1|" + \
    "C:\\WINDOWS\\CLOUDS.BMP".encode().hex()


def user_disk(work, profiles=False):
    raw = formats.raw_disk(work)
    volume = images.Volume(raw, formats.START * 512, formats.SECTORS * 512)
    volume.put(USER_DAT, WINDOWS + "\\USER.DAT", "+r +s +h -a")
    if profiles:
        volume.mkdir(WINDOWS + "\\PROFILES")
        volume.mkdir(WINDOWS + "\\PROFILES\\ANNA")
        volume.put(USER_DAT, WINDOWS + "\\PROFILES\\ANNA\\USER.DAT")
    return raw, volume


def read_both(image, work):
    raw = image if image.endswith(".img") else formats.to_raw(image, os.path.join(work, "a.img"))
    volume = images.Volume(raw, formats.START * 512, formats.SECTORS * 512)
    dumps = []
    for name in ("SYSTEM.DAT", "USER.DAT"):
        local = os.path.join(work, name)
        volume.get(WINDOWS + "\\" + name, local)
        dumps.append(libcreg(local))
    return dumps, volume


def user(work, case):
    checks = harness.Checks()
    raw, volume = user_disk(work, profiles=case == "profiles")
    reg = os.path.join(work, "user-and-machine.reg")
    with open(reg, "wb") as f:
        f.write(MERGE)
    old = read_both(raw, work)[0]
    new = [with_values(old[0], EXPECTED["/SSP:0"] + EXPECTED["/DMA:1"]),
           with_values(old[1], [WALLPAPER])]
    image = raw if case != "qcow2" else formats.convert(raw, os.path.join(work, "w.qcow2"),
                                                        "qcow2")
    if case == "profiles":
        status, out, err, same = outcome(image, ["--merge", reg, "/DMA:1"])
        checks.check("refused with the list", status == 2 and "(Profiles\\ANNA)" in err, err)
        checks.check("the image byte for byte", same)
        machine_only = os.path.join(work, "machine.reg")
        with open(machine_only, "wb") as f:
            f.write(MERGE[:MERGE.index(b"\r\n\r\n[HKEY_CURRENT_USER")] + b"\r\n")
        status, out, err = base.regswitch(["--image", image, "--merge", machine_only])
        checks.check("a merge of HKEY_LOCAL_MACHINE alone goes on", status == 0, err)
        checks.finish()
        return
    if case == "killed":
        interrupted_pair(work, raw, reg, old, new, checks)
        checks.finish()
        return
    status, out, err = base.regswitch(["--image", image, "--merge", reg, "--dry-run", "/DMA:1"])
    checks.check("--dry-run shows both files' changes", status == 0 and
                 "HKEY_USERS\\.DEFAULT\\Control Panel\\Desktop" in out and
                 "IDEDMADRIVE0" in out, out + err)
    status, out, err = base.regswitch(["--image", image, "--merge", reg, "/DMA:1"])
    checks.check("exits 0", status == 0, err)
    dumps, after = read_both(image, work)
    for name, dump, want in zip(("SYSTEM.DAT", "USER.DAT"), dumps, new):
        checks.check("%s holds the merge" % name, dump == want,
                     "" if dump == want else first_difference(want, dump))
        checks.check("%s keeps its attributes" % name,
                     after.attributes(WINDOWS + "\\" + name) == volume.attributes(
                         WINDOWS + "\\" + name))
    clean, output = after.fsck(work)
    checks.check("fsck.fat -n finds nothing", clean, "" if clean else output)
    checks.finish()


def interrupted_pair(work, raw, reg, old, new, checks):
    """Killed at each mtools command: both files old, or both new."""
    pristine = os.path.join(work, "pristine.img")
    shutil.copyfile(raw, pristine)
    hook, env = base.hooked_env(work, 0, "during", "KILL")
    base.regswitch(["--image", raw, "--merge", reg, "/DMA:1"], env)
    with open(os.path.join(hook, "count")) as f:
        steps = int(f.read())
    checks.check("a whole run has %d mtools commands" % steps, steps >= 8)
    for at in range(1, steps + 1):
        shutil.copyfile(pristine, raw)
        hook, env = base.hooked_env(work, at, "during", "KILL")
        base.regswitch(["--image", raw, "--merge", reg, "/DMA:1"], env)
        deadline = time.time() + 30
        while not os.path.exists(os.path.join(hook, "done")) and time.time() < deadline:
            time.sleep(0.05)
        status, _, err = base.regswitch(["--image", raw, "--show"])  # waits for the writers
        dumps = read_both(raw, work)[0]
        checks.check("killed at command %d: both old or both new" % at,
                     dumps in (old, new), "SYSTEM.DAT %s, USER.DAT %s" % (
                         "new" if dumps[0] == new[0] else "old" if dumps[0] == old[0] else "?",
                         "new" if dumps[1] == new[1] else "old" if dumps[1] == old[1] else "?"))


def main(argv):
    harness.need_module("pycreg", "python3-libcreg")
    for name, package in (("mcopy", "mtools"), ("mkfs.fat", "dosfstools"),
                          ("fsck.fat", "dosfstools"), ("sfdisk", "fdisk"),
                          ("qemu-img", "qemu-utils")):
        images.tool(name, package)
    cases = {"fault": FAULTS, "user": ("raw", "qcow2", "profiles", "killed")}
    if len(argv) != 3 or argv[1] not in cases or argv[2] not in cases[argv[1]]:
        print(__doc__, file=sys.stderr)
        return 2
    work = harness.fresh_dir("image", "-".join(argv[1:]))
    if argv[1] == "user":
        user(work, argv[2])
    else:
        checks = harness.Checks()
        FAULTS[argv[2]](work, checks)
        checks.finish()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
