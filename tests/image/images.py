"""Disk images of Windows 98 machines for the image tests, made with
sfdisk, mkfs.fat and mtools around the real Windows 98 SYSTEM.DAT, and what
the tests read back from them: files and attributes through mtools, and
fsck.fat -n of each FAT volume.
"""

import hashlib
import os
import shutil
import subprocess

import harness

SYSTEM_DAT = harness.source_path("tests", "data", "win9x", "SYSTEM.DAT")
MIB = 1 << 20


def tool(name, package):
    """The path of a command; mkfs.fat, fsck.fat and sfdisk are in /usr/sbin,
    which a user's PATH may not hold."""
    path = shutil.which(name) or shutil.which(name, path="/usr/sbin:/sbin")
    if path is None:
        harness.missing("%s is missing (Debian package %s)" % (name, package))
    return path


def run(args, env=None, check=True):
    done = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=120, env=env)
    output = (done.stdout + done.stderr).decode("utf-8", "replace")
    if check and done.returncode != 0:
        harness.fail("%s: exit status %d: %s" % (" ".join(args), done.returncode, output))
    return done.returncode, output


def mtools_env():
    return dict(os.environ, MTOOLS_SKIP_CHECK="1")


class Volume:
    """One FAT file system in an image, as mtools reaches it."""

    def __init__(self, image, offset, size):
        self.image, self.offset, self.size = image, offset, size

    def _m(self, command, *args, check=True):
        # Paths on the volume are written as DOS writes them, with backslashes.
        args = [a.replace("\\", "/") if a.startswith("::") else a for a in args]
        return run([tool(command, "mtools"), "-i", "%s@@%d" % (self.image, self.offset)]
                   + args, env=mtools_env(), check=check)

    def mkdir(self, folder):
        self._m("mmd", "::" + folder)

    def put(self, local, path, attributes=""):
        self._m("mcopy", "-D", "o", local, "::" + path)
        if attributes:
            self._m("mattrib", *attributes.split(), "::" + path)

    def put_text(self, work, text, path):
        local = os.path.join(work, "put.tmp")
        with open(local, "wb") as f:
            f.write(text)
        self.put(local, path)
        os.remove(local)

    def get(self, path, local):
        """Copies PATH out to LOCAL; False when it is not there."""
        if os.path.exists(local):
            os.remove(local)
        return self._m("mcopy", "-n", "::" + path, local, check=False)[0] == 0

    def attributes(self, path):
        """mattrib's flags for PATH ("A  SHR"), or None when it is missing."""
        status, output = self._m("mattrib", "::" + path, check=False)
        return output[2:8] if status == 0 else None

    def fsck(self, work):
        """fsck.fat -n of the volume, copied out of the image: (clean, output)."""
        fsck = tool("fsck.fat", "dosfstools")
        copy = os.path.join(work, "volume.bin")
        with open(self.image, "rb") as f, open(copy, "wb") as out:
            f.seek(self.offset)
            out.write(f.read(self.size))
        status, output = run([fsck, "-n", copy], check=False)
        os.remove(copy)
        return status == 0, output.strip()


def mkfs(image, bits, offset_sectors=0, sectors=None):
    args = [tool("mkfs.fat", "dosfstools"), "-F", str(bits)]
    if bits == 32:
        args += ["-s", "1"]  # enough clusters for FAT32 on a small volume
    if offset_sectors:
        args += ["--offset", str(offset_sectors)]
    args.append(image)
    if sectors:
        args.append(str(sectors // 2))  # in blocks of 1 KiB
    run(args)


def make_disk(path, mib, partitions=None, bare_bits=None, vhd=False):
    """A raw disk of MIB mebibytes: a bare FAT volume of BARE_BITS, or an MBR
    of PARTITIONS (start, sectors, type, bits or None, bootable), formatted
    where bits are given; VHD adds a fixed-VHD footer. Its FAT volumes by
    partition number (0 for the bare volume)."""
    with open(path, "wb") as f:
        f.truncate(mib * MIB)
    volumes = {}
    if bare_bits:
        mkfs(path, bare_bits)
        volumes[0] = Volume(path, 0, mib * MIB)
    else:
        script = "label: dos\n" + "".join(
            "start=%d, size=%d, type=%s%s\n" % (s, n, t, ", bootable" if boot else "")
            for s, n, t, _, boot in partitions)
        done = subprocess.run([tool("sfdisk", "fdisk"), "-q", path], input=script.encode(),
                              capture_output=True, timeout=60)
        if done.returncode != 0:
            harness.fail("sfdisk: %s" % done.stderr.decode())
        numbers = partition_numbers(path)
        for (start, sectors, _, bits, _), number in zip(partitions, numbers):
            if bits:
                mkfs(path, bits, start, sectors)
                volumes[number] = Volume(path, start * 512, sectors * 512)
    if vhd:
        footer = bytearray(512)
        footer[0:8] = b"conectix"
        footer[60:64] = (2).to_bytes(4, "big")  # a fixed disk
        with open(path, "ab") as f:
            f.write(footer)
    return volumes


def partition_numbers(path):
    """The partition numbers sfdisk gives, in the order of its script."""
    import json
    status, output = run([tool("sfdisk", "fdisk"), "--json", path])
    table = json.loads(output)["partitiontable"]["partitions"]
    return [int(p["node"][len(path):]) for p in table]


def install_windows(volume, work, folder="\\WINDOWS", msdos_sys=None, source=SYSTEM_DAT):
    """SOURCE as SYSTEM.DAT, read-only, system and hidden, in FOLDER, with
    Windows' own backup SYSTEM.DA0 beside it; MSDOS.SYS in the root when
    given."""
    volume.mkdir(folder)
    volume.put(source, folder + "\\SYSTEM.DAT", "+r +s +h -a")
    backup = os.path.join(work, "SYSTEM.DA0")
    with open(source, "rb") as f, open(backup, "wb") as out:
        out.write(f.read()[::-1])  # any other bytes will do
    volume.put(backup, folder + "\\SYSTEM.DA0", "+r +s +h -a")
    os.remove(backup)
    if msdos_sys is not None:
        volume.put_text(work, msdos_sys, "\\MSDOS.SYS")


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def digest_outside(path, volume):
    """A digest of the image without the bytes of VOLUME."""
    h = hashlib.sha256()
    with open(path, "rb") as f:
        data = f.read()
    h.update(data[:volume.offset])
    h.update(data[volume.offset + volume.size:])
    return h.hexdigest()
