#!/usr/bin/env python3
"""regswitch --image on images in the formats of other emulators, made with
qemu-img from a raw disk around the real Windows 98 (or 95) SYSTEM.DAT.
After each run a copy is converted back to raw and read with mtools,
libcreg and fsck.fat -n, and the image's identity (qemu-img info, its
snapshots, backing file, UUIDs) is compared with what it was.

  format_checks.py apply FORMAT      --show, --dry-run, /DMA:1, the same again
  format_checks.py refused CASE      an image that cannot be changed: exit 2,
                                     the reason, every file byte for byte
  format_checks.py interrupted MODE  a qcow2 run stopped at each mtools
                                     command (kill-during, kill-after)
"""

import json
import os
import shutil
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "harness"))
sys.path.insert(0, os.path.join(HERE, "..", "creg"))
import harness  # noqa: E402
import images  # noqa: E402
import image_checks as base  # noqa: E402
from creg_checks import EXPECTED, EXPECTED95, first_difference, libcreg, with_values  # noqa: E402

START, SECTORS = 63, 60000  # the FAT16 partition of every image here


def qemu_img(*args, check=True):
    return images.run([images.tool("qemu-img", "qemu-utils")] + list(args), check=check)[1]


def raw_disk(work, source=images.SYSTEM_DAT):
    """A 48 MB MBR disk whose one FAT16 partition holds Windows."""
    path = os.path.join(work, "raw.img")
    volume = images.make_disk(path, 48, [(START, SECTORS, "6", 16, True)])[1]
    images.install_windows(volume, work, msdos_sys=b"[Paths]\r\nWinDir=C:\\WINDOWS\r\n",
                           source=source)
    return path


def convert(raw, out, fmt, *options):
    qemu_img("convert", "-f", "raw", "-O", fmt, *options, raw, out)
    return out


def hdi(raw, out):
    """86Box's HDI: a 4 KB header of the geometry, then the raw disk."""
    with open(raw, "rb") as f:
        disk = f.read()
    sectors, heads = 63, 16
    cylinders = len(disk) // (512 * sectors * heads)
    disk = disk[:cylinders * 512 * sectors * heads]
    header = struct.pack("<8I", 0, 0, 4096, len(disk), 512, sectors, heads, cylinders)
    with open(out, "wb") as f:
        f.write(header.ljust(4096, b"\0") + disk)
    return out


# Each maker turns the raw disk into the image to run on, and returns it with
# the other files that belong to it (extents, a backing file).
def simple(fmt, name, *options):
    return lambda work, raw: (convert(raw, os.path.join(work, name), fmt, *options), [])


def with_snapshot(work, raw):
    image = convert(raw, os.path.join(work, "win98.qcow2"), "qcow2")
    qemu_img("snapshot", "-c", "installed", image)
    return image, []


def overlay(work, raw):
    backing = convert(raw, os.path.join(work, "base.qcow2"), "qcow2")
    image = os.path.join(work, "win98.qcow2")
    qemu_img("create", "-f", "qcow2", "-F", "qcow2", "-b", "base.qcow2", image)
    return image, [backing]


def split(fmt_options, name):
    def make(work, raw):
        image = convert(raw, os.path.join(work, name), "vmdk", "-o", fmt_options)
        stem = name[:-5]
        extents = sorted(os.path.join(work, f) for f in os.listdir(work)
                         if f.startswith(stem + "-") and f.endswith(".vmdk"))
        return image, extents
    return make


FORMATS = {
    "qcow2": simple("qcow2", "win98.qcow2"),
    "qcow2-snapshot": with_snapshot,
    "qcow2-overlay": overlay,
    "vdi": simple("vdi", "win98.vdi"),
    "vdi-fixed": simple("vdi", "win98.vdi", "-o", "static=on"),
    "vmdk": simple("vmdk", "win98.vmdk"),
    "vmdk-split": split("subformat=twoGbMaxExtentSparse", "win98.vmdk"),
    "vmdk-flat": split("subformat=monolithicFlat", "win98.vmdk"),
    "vhd": simple("vpc", "win98.vhd"),
    "vhdx": simple("vhdx", "win98.vhdx"),
    "hdi": lambda work, raw: (hdi(raw, os.path.join(work, "win98.hdi")), []),
    "qcow2-win95": simple("qcow2", "win95.qcow2"),
}


# --- What an image is ---------------------------------------------------------

def identity(image):
    """What must not change: qemu-img's description less what changes with
    every write (sizes on the host, VMDK's content id), and the UUIDs QEMU
    does not show."""
    if image.endswith(".hdi"):
        with open(image, "rb") as f:
            return {"header": f.read(4096).hex(), "size": os.path.getsize(image)}
    info = json.loads(qemu_img("info", "-U", "--output=json", image))
    info.pop("actual-size", None)
    info.pop("dirty-flag", None)
    data = info.get("format-specific", {}).get("data", {})
    data.pop("cid", None)
    with open(image, "rb") as f:
        head = f.read(512)
        f.seek(-512, 2)
        tail = f.read(512)
    if info["format"] == "vdi":
        info["vdi-uuids"] = head[0x188:0x1C8].hex()
        info["vdi-type"] = head[0x4C:0x50].hex()
    if info["format"] == "vpc":
        info["vhd-footer"] = (tail[:64] + tail[68:85]).hex()  # less the checksum
    return info


def allocated(image):
    """The guest's byte ranges the image holds itself."""
    if image.endswith(".hdi"):
        return []
    entries = json.loads(qemu_img("map", "-U", "--output=json", image))
    return [(e["start"], e["length"]) for e in entries if e["data"] and e.get("depth", 0) == 0]


def covered(inner, outer):
    """Whether every range of INNER lies inside the ranges of OUTER."""
    for start, length in inner:
        end = start + length
        for s, n in outer:
            if s <= start < s + n:
                start = min(end, s + n)
        if start < end:
            return False
    return True


def to_raw(image, out, snapshot=None):
    if image.endswith(".hdi"):
        with open(image, "rb") as f, open(out, "wb") as o:
            f.seek(4096)
            o.write(f.read())
        return out
    args = ["convert", "-U", "-O", "raw"]
    if snapshot:
        args += ["-l", "snapshot.name=" + snapshot]
    qemu_img(*(args + [image, out]))
    return out


def digests(paths):
    return {p: images.digest(p) for p in paths}


# --- The runs ------------------------------------------------------------------

def apply(work, fmt):
    win95 = fmt.endswith("win95")
    source = harness.shared_testdata("win95", "SYSTEM.1ST") if win95 else images.SYSTEM_DAT
    table, switch, setting = (EXPECTED95, "/DDC:1", "DDC") if win95 else (EXPECTED, "/DMA:1", "DMA")
    checks = harness.Checks()
    raw = raw_disk(work, source)
    volume = images.Volume(raw, START * 512, SECTORS * 512)
    original = os.path.join(work, "original.dat")
    volume.get("\\WINDOWS\\SYSTEM.DAT", original)
    expected = with_values(libcreg(original), table[switch])
    outside = images.digest_outside(raw, volume)
    image, others = FORMATS[fmt](work, raw)
    files = [image] + others
    before_id, before_map, before = identity(image), allocated(image), digests(files)

    status, out, err = base.regswitch(["--image", image, "--show"])
    checks.check("--show: %s not on yet" % setting, status == 0 and out.startswith("SSP ")
                 and "\n%s  on " % setting not in out, out + err)
    status, out, err = base.regswitch(["--image", image, "--dry-run", switch])
    checks.check("--dry-run prints the change", status == 0 and "REGEDIT4" in out, err)
    checks.check("--show and --dry-run leave every file byte for byte",
                 digests(files) == before)
    status, out, err = base.regswitch(["--image", image, switch])
    checks.check("%s exits 0 and prints nothing" % switch, (status, out, err) == (0, "", ""),
                 "status %d: %s%s" % (status, out, err))

    if not image.endswith((".hdi", ".vhd")) and "flat" not in fmt:
        status, output = images.run([images.tool("qemu-img", "qemu-utils"), "check", image],
                                    check=False)
        checks.check("qemu-img check finds nothing", status == 0, output)
    after_id = identity(image)
    checks.check("the image's identity is kept", after_id == before_id,
                 json.dumps(after_id)[:400])
    checks.check("every cluster it held is still its own", covered(before_map, allocated(image)))
    for other in others:
        if other.endswith("base.qcow2"):
            checks.check("the backing file is untouched", images.digest(other) == before[other])
    changed = to_raw(image, os.path.join(work, "after.img"))
    # A VHD's disk is rounded to its geometry, an HDI's cut to whole
    # cylinders: what lies beyond either disk's end is not compared.
    with open(changed, "r+b") as f:
        f.truncate(min(os.path.getsize(raw), os.path.getsize(changed)))
    if os.path.getsize(changed) < os.path.getsize(raw):
        with open(raw, "r+b") as f:
            f.truncate(os.path.getsize(changed))
        outside = images.digest_outside(raw, volume)
    after = images.Volume(changed, START * 512, SECTORS * 512)
    local = os.path.join(work, "SYSTEM.DAT")
    checks.check("SYSTEM.DAT is there", after.get("\\WINDOWS\\SYSTEM.DAT", local))
    dump = libcreg(local)
    checks.check("libcreg reads exactly the intended values", dump == expected,
                 "" if dump == expected else first_difference(expected, dump))
    checks.check("the attributes are kept", after.attributes("\\WINDOWS\\SYSTEM.DAT") ==
                 volume.attributes("\\WINDOWS\\SYSTEM.DAT"))
    checks.check("no REGSWTCH.TMP", after.attributes("\\WINDOWS\\REGSWTCH.TMP") is None)
    checks.check("nothing outside the volume changed",
                 images.digest_outside(changed, after) == outside)
    clean, output = after.fsck(work)
    checks.check("fsck.fat -n finds nothing", clean, "" if clean else output)
    if fmt == "qcow2-snapshot":
        snap = to_raw(image, os.path.join(work, "snapshot.img"), "installed")
        checks.check("the snapshot holds the disk as it was",
                     images.digest(snap) == images.digest(raw))
    once = digests(files)
    status, out, err = base.regswitch(["--image", image, switch])
    checks.check("%s again changes no byte" % switch, status == 0 and digests(files) == once, err)
    checks.finish()


def leftover(work, fmt):
    """A REGSWTCH.TMP left by a killed run, the size of the new SYSTEM.DAT
    but not its bytes: the FAT may hand its clusters to the new file again,
    and they must still reach the image."""
    checks = harness.Checks()
    raw = raw_disk(work)
    volume = images.Volume(raw, START * 512, SECTORS * 512)
    scratch = os.path.join(work, "scratch.img")
    shutil.copyfile(raw, scratch)
    status, _, err = base.regswitch(["--image", scratch, "/DMA:1"])
    new = os.path.join(work, "new.dat")
    images.Volume(scratch, START * 512, SECTORS * 512).get("\\WINDOWS\\SYSTEM.DAT", new)
    stale = os.path.join(work, "stale.tmp")
    with open(new, "rb") as f, open(stale, "wb") as out:
        out.write(bytes(b ^ 0x5A for b in f.read()))
    volume.put(stale, "\\WINDOWS\\REGSWTCH.TMP")
    image, _ = FORMATS[fmt](work, raw)
    status, out, err = base.regswitch(["--image", image, "/DMA:1"])
    checks.check("/DMA:1 exits 0", status == 0, err)
    after = images.Volume(to_raw(image, os.path.join(work, "after.img")), START * 512,
                          SECTORS * 512)
    local = os.path.join(work, "SYSTEM.DAT")
    after.get("\\WINDOWS\\SYSTEM.DAT", local)
    checks.check("SYSTEM.DAT holds the new file's bytes", images.digest(local) == images.digest(new))
    checks.check("no REGSWTCH.TMP", after.attributes("\\WINDOWS\\REGSWTCH.TMP") is None)
    clean, output = after.fsck(work)
    checks.check("fsck.fat -n finds nothing", clean, "" if clean else output)
    checks.finish()


# --- Images that are refused ---------------------------------------------------

def patch_vhd_type(path, kind):
    """Sets the disk type of a VHD's footer (and of its copy at the start)."""
    with open(path, "r+b") as f:
        data = bytearray(f.read())
        for at in (0, len(data) - 512):
            footer = data[at:at + 512]
            footer[60:64] = struct.pack(">I", kind)
            footer[64:68] = b"\0\0\0\0"
            footer[64:68] = struct.pack(">I", ~sum(footer) & 0xFFFFFFFF)
            data[at:at + 512] = footer
        f.seek(0)
        f.write(data)


def patch_vdi_type(path, kind):
    with open(path, "r+b") as f:
        f.seek(0x4C)
        f.write(struct.pack("<I", kind))


def differencing_vhd(work, raw):
    image = convert(raw, os.path.join(work, "child.vhd"), "vpc")
    patch_vhd_type(image, 4)
    return image, []


def differencing_vdi(work, raw):
    image = convert(raw, os.path.join(work, "snap.vdi"), "vdi")
    patch_vdi_type(image, 4)
    return image, []


def orphan(work, raw):
    image, others = overlay(work, raw)
    os.remove(others[0])
    return image, []


def in_qemu(image, args):
    """The run while QEMU serves the image for writing, as a running machine."""
    server = subprocess.Popen([images.tool("qemu-nbd", "qemu-utils"), "-f", "qcow2", "-k",
                               os.path.join(os.path.dirname(image), "vm.socket"), image],
                              stdin=subprocess.DEVNULL)
    deadline = time.time() + 20
    while not os.path.exists(os.path.join(os.path.dirname(image), "vm.socket")):
        if time.time() > deadline:
            harness.fail("qemu-nbd did not start")
        time.sleep(0.05)
    try:
        return base.regswitch(args)
    finally:
        # Not SIGTERM: qemu-nbd may not yet heed it just after it started.
        server.kill()
        server.wait(timeout=30)


def changed_meanwhile(image, args):
    """qemu-nbd started the second time (to write) finds the image changed:
    another program wrote the disk between the run's reading and writing."""
    hook = os.path.join(os.path.dirname(image), "hook")
    os.makedirs(hook, exist_ok=True)
    real = images.tool("qemu-nbd", "qemu-utils")
    io = images.tool("qemu-io", "qemu-utils")
    with open(os.path.join(hook, "qemu-nbd"), "w") as f:
        f.write('#!/bin/sh\nn=$(cat "%s/count" 2>/dev/null || echo 0); n=$((n+1))\n'
                'echo $n > "%s/count"\n'
                '[ $n = 2 ] && "%s" -f qcow2 -c "write -P 0x55 %d 512" "%s" >/dev/null\n'
                'exec "%s" "$@"\n' % (hook, hook, io, (START + 1) * 512, image, real))
    os.chmod(os.path.join(hook, "qemu-nbd"), 0o755)
    return base.regswitch(args, env=dict(os.environ, PATH=hook + ":" + os.environ["PATH"]))


def without_qemu(image, args):
    bare = os.path.join(os.path.dirname(image), "bin")
    os.makedirs(bare, exist_ok=True)
    for name in ("mattrib", "mcopy", "mdel", "mren"):
        os.symlink(images.tool(name, "mtools"), os.path.join(bare, name))
    return base.regswitch(args, env=dict(os.environ, PATH=bare))


# Each case: (make the image, how to run, the message, whether --show reads it).
REFUSED = {
    "vmdk-stream": (split("subformat=streamOptimized", "win98.vmdk"), None,
                    "win98.vmdk: a streamOptimized VMDK, whose grains QEMU (as VMware) writes "
                    "only once and cannot change in place; make a sparse copy and run on "
                    "that: qemu-img convert -f vmdk -O vmdk -o subformat=monolithicSparse ",
                    True),
    "vhd-differencing": (differencing_vhd, None, "child.vhd: a differencing VHD, whose "
                         "parent QEMU cannot follow", False),
    "vdi-differencing": (differencing_vdi, None, "snap.vdi: a differencing or undo VDI "
                         "(image type 4, a VirtualBox snapshot)", False),
    "overlay-without-backing": (orphan, None, "win98.qcow2: a qcow2 image that QEMU cannot "
                                "open: QEMU: Could not open backing file", False),
    "in-use": (FORMATS["qcow2"], in_qemu, "holds a lock on the image: is a virtual machine "
               "running from it? Shut the guest down first; nothing was changed", True),
    "changed-meanwhile": (FORMATS["qcow2"], changed_meanwhile, "win98.qcow2: changed by "
                          "another program during the run; the image was left as it was",
                          True),
    "no-qemu": (FORMATS["qcow2"], without_qemu, "win98.qcow2: a qcow2 image: qemu-utils is "
                "missing (Debian package qemu-utils)", False),
}


def refused(work, case):
    make, how, message, shows = REFUSED[case]
    checks = harness.Checks()
    raw = raw_disk(work)
    image, others = make(work, raw)
    files = [image] + others
    before = digests(files)
    args = ["--image", image, "/DMA:1"]
    status, out, err = (how or (lambda i, a: base.regswitch(a)))(image, args)
    checks.check("exit status 2", status == 2, "status %d" % status)
    checks.check("says why", message in err, err.strip())
    checks.check("one line on standard error", out == "" and err.count("\n") == 1, repr(err))
    if case != "changed-meanwhile":
        checks.check("every file byte for byte", digests(files) == before)
    else:
        after = images.Volume(to_raw(image, os.path.join(work, "after.img")), START * 512,
                              SECTORS * 512)
        local = os.path.join(work, "SYSTEM.DAT")
        checks.check("SYSTEM.DAT is the old one", after.get("\\WINDOWS\\SYSTEM.DAT", local)
                     and images.digest(local) == images.digest(images.SYSTEM_DAT))
    if shows:
        status, out, err = (how or (lambda i, a: base.regswitch(a)))(
            image, ["--image", image, "--show"])
        checks.check("--show reads it", status == 0 and out.startswith("SSP "), err)
    checks.finish()


# --- A qcow2 run stopped at each mtools command -----------------------------------

def interrupted(work, mode):
    """The hook kills the run as an mtools command on the local copy starts
    (its changes never reach the image) or once it has ended (the run is
    writing them, or about to): either way the image holds a whole
    SYSTEM.DAT, the old or the new, and qemu-img check finds nothing."""
    checks = harness.Checks()
    raw = raw_disk(work)
    pristine = convert(raw, os.path.join(work, "pristine.qcow2"), "qcow2")
    image = os.path.join(work, "win98.qcow2")
    volume = images.Volume(raw, START * 512, SECTORS * 512)
    original = os.path.join(work, "original.dat")
    volume.get("\\WINDOWS\\SYSTEM.DAT", original)
    old = libcreg(original)
    new = with_values(old, EXPECTED["/DMA:1"])
    shutil.copyfile(pristine, image)
    hook, env = base.hooked_env(work, 0, "during", "KILL")
    status, _, err = base.regswitch(["--image", image, "/DMA:1"], env)
    with open(os.path.join(hook, "count")) as f:
        steps = int(f.read())
    checks.check("a whole run through the hook (%d mtools commands)" % steps,
                 status == 0 and steps >= 4, err)
    for at in range(1, steps + 1):
        shutil.copyfile(pristine, image)
        hook, env = base.hooked_env(work, at, "during" if mode == "kill-during" else "after",
                                    "KILL")
        base.regswitch(["--image", image, "/DMA:1"], env)
        # The run's writer and QEMU's server go on; the next run waits for them.
        status, _, err = base.regswitch(["--image", image, "--show"])
        label = "%s at command %d" % (mode, at)
        checks.check(label + ": the image can be read", status == 0, err)
        status, output = images.run([images.tool("qemu-img", "qemu-utils"), "check", image],
                                    check=False)
        checks.check(label + ": qemu-img check finds nothing", status == 0, output)
        after = images.Volume(to_raw(image, os.path.join(work, "after.img")), START * 512,
                              SECTORS * 512)
        local = os.path.join(work, "SYSTEM.DAT")
        after.get("\\WINDOWS\\SYSTEM.DAT", local)
        dump = libcreg(local)
        checks.check(label + ": SYSTEM.DAT is the whole old or new one", dump in (old, new),
                     "the new one" if dump == new else "the old one" if dump == old else "neither")
        clean, output = after.fsck(work)
        checks.check(label + ": fsck.fat -n finds nothing", clean, "" if clean else output)
        status, _, err = base.regswitch(["--image", image, "/DMA:1"])
        checks.check(label + ": the next run exits 0", status == 0, err)
    checks.finish()


def main(argv):
    harness.need_module("pycreg", "python3-libcreg")
    for name, package in (("mcopy", "mtools"), ("mkfs.fat", "dosfstools"),
                          ("fsck.fat", "dosfstools"), ("sfdisk", "fdisk"),
                          ("qemu-img", "qemu-utils"), ("qemu-nbd", "qemu-utils")):
        images.tool(name, package)
    commands = {"apply": (apply, FORMATS), "refused": (refused, REFUSED),
                "interrupted": (interrupted, ("kill-during", "kill-after")),
                "leftover": (leftover, ("qcow2",))}
    if len(argv) != 3 or argv[1] not in commands or argv[2] not in commands[argv[1]][1]:
        print(__doc__, file=sys.stderr)
        return 2
    commands[argv[1]][0](harness.fresh_dir("image", "-".join(argv[1:])), argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
