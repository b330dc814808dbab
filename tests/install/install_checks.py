#!/usr/bin/env python3
"""The program as it is installed and shipped (label install):

  install_checks.py man          the manual page renders without a warning
                                 and documents every option
  install_checks.py prefix       cmake --install into a fresh prefix, and the
                                 installed program runs
  install_checks.py deb          the Debian package: its fields, files,
                                 dependencies and copyright file, lintian;
                                 installed with dpkg -i, its program runs;
                                 then purged
  install_checks.py windows-zip  the zip of regswitch.exe, its text and the
                                 licence
"""

import glob
import os
import re
import shutil
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "harness"))
import harness  # noqa: E402

SWITCHES = ["/SSP", "/DDC", "/CDP", "/DMA", "/DIN", "/ACS"]
# What a prefix holds after cmake --install, and the package under /usr.
INSTALLED = ["bin/regswitch", "share/doc/regswitch/changelog.gz",
             "share/doc/regswitch/copyright", "share/man/man1/regswitch.1.gz"]


def build_dir():
    return harness.config()["build_dir"]


def version():
    return harness.config()["version"]


def run(args, **kwargs):
    """ARGS' exit status, standard output and standard error."""
    result = subprocess.run(args, capture_output=True, text=True,
                            stdin=subprocess.DEVNULL, **kwargs)
    return result.returncode, result.stdout, result.stderr


def cpack():
    # CMake's own, beside the cmake that configured the build.
    return os.path.join(os.path.dirname(harness.config()["cmake"]), "cpack")


def check_program(checks, program, label, folder):
    """Runs an installed program: --version, then --show before and after a
    run on a copy of the sample (in FOLDER), against the expected text."""
    status, out, _ = run([program, "--version"])
    checks.check(label + " --version", status == 0 and out == "regswitch %s\n" % version(),
                 repr(out))
    registry = os.path.join(folder, "system.reg")
    shutil.copyfile(harness.source_path("samples", "win95-system.reg"), registry)
    for switches, expected in (([], "win95-sample.txt"),
                               (["/SSP:1", "/DDC:1", "/CDP:0", "/DMA:1", "/DIN:1", "/ACS"],
                                "win95-sample-after-all.txt")):
        if switches:
            status, _, err = run([program, "--registry", registry] + switches)
            checks.check(label + " runs " + " ".join(switches), status == 0, err)
        status, out, err = run([program, "--registry", registry, "--show"])
        with open(harness.source_path("tests", "data", "show", expected)) as f:
            want = f.read()
        checks.check(label + " --show as in " + expected, status == 0 and out == want,
                     err or out)


# --- The manual page ---------------------------------------------------------

def man():
    mandoc = harness.need_command("mandoc", "mandoc")
    groff = harness.need_command("groff", "groff-base")
    man_command = harness.need_command("man", "man-db")
    page = os.path.join(build_dir(), "regswitch.1")
    if not os.path.isfile(page):
        harness.fail("no %s: build the host preset first" % page)
    checks = harness.Checks()
    status, out, err = run([mandoc, "-T", "lint", "-W", "all", page])
    checks.check("mandoc -T lint -W all", status == 0 and not out and not err, out + err)
    status, out, err = run([groff, "-man", "-ww", "-z", page])
    checks.check("groff -man -ww -z", status == 0 and not err, err)
    text = ""
    for width in ("80", "60"):
        env = dict(os.environ, MANWIDTH=width, MAN_KEEP_FORMATTING="", LC_ALL="C.UTF-8")
        status, out, err = run([man_command, "--warnings", "-l", page], env=env)
        checks.check("man --warnings -l at %s columns" % width,
                     status == 0 and not err.strip(), err)
        text = text or out
    # Hyphens and line breaks as man renders them, so that words can be found.
    flat = re.sub(r"\s+", " ", text.replace("\u2010 ", "").replace("\u2010", "-"))
    checks.check("the version set in CMake", "regswitch %s" % version() in flat)
    status, out, _ = run([harness.config()["regswitch"], "--help"])
    options = re.findall(r"^  (--[a-z-]+)", out, re.M)
    checks.check("--help lists options", status == 0 and len(options) >= 5, out)
    for word in options + SWITCHES + ["SYNOPSIS", "EXIT STATUS", "EXAMPLES", "SAVING",
                                      "REGEDIT4", "Version 5.00", "SYSTEM.DAT"]:
        checks.check("documents " + word, word in flat)
    checks.finish()


# --- cmake --install ---------------------------------------------------------

def files_under(root):
    found = []
    for folder, _, names in os.walk(root):
        for name in names:
            found.append(os.path.relpath(os.path.join(folder, name), root))
    return sorted(found)


def prefix():
    work = harness.fresh_dir("install", "prefix")
    cmake = harness.config()["cmake"]
    log = os.path.join(work, "install.log")
    checks = harness.Checks()
    target = os.path.join(work, "prefix")
    status = harness.run_logged([cmake, "--install", build_dir(), "--prefix", target], log)
    checks.check("cmake --install --prefix", status == 0, harness.tail(log))
    checks.check("installs exactly " + ", ".join(INSTALLED), files_under(target) == INSTALLED,
                 repr(files_under(target)))
    # As a packager stages it.
    stage = os.path.join(work, "stage")
    env = dict(os.environ, DESTDIR=stage)
    status = harness.run_logged([cmake, "--install", build_dir(), "--prefix", "/usr"], log,
                                env=env)
    checks.check("DESTDIR=... cmake --install --prefix /usr",
                 status == 0 and files_under(stage) == ["usr/" + f for f in INSTALLED],
                 repr(files_under(stage)))
    program = os.path.join(target, "bin", "regswitch")
    checks.check("the program is executable", os.access(program, os.X_OK))
    check_program(checks, program, "installed regswitch", work)
    man_command = shutil.which("man")
    if man_command is None:
        harness.missing("man is missing (Debian package man-db)")
    status, out, _ = run([man_command, "--manpath", os.path.join(target, "share", "man"),
                          "-w", "regswitch"])
    checks.check("man finds the page in the prefix",
                 status == 0 and out.strip() == os.path.join(target, INSTALLED[3]), out)
    checks.finish()


# --- The Debian package ------------------------------------------------------

def build_package(work):
    for command, package in (("dpkg-deb", "dpkg"), ("dpkg-shlibdeps", "dpkg-dev"),
                             ("file", "file"), ("objdump", "binutils")):
        harness.need_command(command, package)
    log = os.path.join(work, "cpack.log")
    status = harness.run_logged([cpack(), "-G", "DEB", "--config",
                                 os.path.join(build_dir(), "CPackConfig.cmake"), "-B", work],
                                log)
    debs = glob.glob(os.path.join(work, "*.deb"))
    if status != 0 or len(debs) != 1:
        harness.fail("cpack -G DEB made %d package(s):\n%s" % (len(debs), harness.tail(log)))
    return debs[0]


def check_fields(checks, deb, work):
    _, arch, _ = run(["dpkg", "--print-architecture"])
    want = {"Package": "regswitch", "Version": version(), "Architecture": arch.strip(),
            "Section": "utils", "Priority": "optional", "Recommends": "mtools, qemu-utils"}
    for field, value in want.items():
        _, out, _ = run(["dpkg-deb", "--field", deb, field])
        checks.check("%s: %s" % (field, value), out.strip() == value, out.strip())
    # Every library the program needs comes from a package it depends on.
    _, depends, _ = run(["dpkg-deb", "--field", deb, "Depends"])
    named = {part.split()[0] for part in depends.split(",") if part.strip()}
    unpacked = os.path.join(work, "unpacked")
    run(["dpkg-deb", "-x", deb, unpacked])
    _, dump, _ = run(["objdump", "-p", os.path.join(unpacked, "usr", "bin", "regswitch")])
    for library in re.findall(r"NEEDED\s+(\S+)", dump):
        _, owners, _ = run(["dpkg", "-S", "*/" + library])
        owner = {line.split(":")[0] for line in owners.splitlines() if ":" in line}
        checks.check("depends on the package of " + library, bool(owner & named),
                     "%s from %s, Depends: %s" % (library, owner, depends.strip()))
    _, listing, _ = run(["dpkg-deb", "-c", deb])
    files = sorted(line.split()[-1][len("./usr/"):] for line in listing.splitlines()
                   if not line.startswith("d"))
    owners = {line.split()[1] for line in listing.splitlines()}
    checks.check("holds exactly " + ", ".join(INSTALLED), files == INSTALLED, repr(files))
    checks.check("owned by root", owners == {"root/root"}, repr(owners))


def install_package(checks, deb, work):
    """dpkg -i, the installed program, then dpkg --purge."""
    if os.geteuid() != 0:
        harness.missing("installing the package needs root (dpkg -i)")
    status, out, _ = run(["dpkg-query", "-W", "-f=${Status}", "regswitch"])
    if status == 0 and out.endswith(" installed"):
        harness.missing("a regswitch package is installed already; this test would "
                        "replace and remove it")
    status, out, err = run(["dpkg", "-i", deb])
    checks.check("dpkg -i", status == 0, out + err)
    try:
        check_program(checks, "/usr/bin/regswitch", "packaged regswitch", work)
        _, listed, _ = run(["dpkg", "-L", "regswitch"])
        page = "/usr/share/man/man1/regswitch.1.gz"
        # A system whose dpkg leaves manual pages out lists none.
        if page in listed.split():
            status, out, _ = run(["man", "-w", "regswitch"])
            checks.check("man finds the installed page", out.strip() == page, out)
    finally:
        status, out, err = run(["dpkg", "--purge", "regswitch"])
        checks.check("dpkg --purge", status == 0 and not os.path.exists("/usr/bin/regswitch"),
                     out + err)


def license_paragraphs():
    """The MIT licence's paragraphs after its title and copyright line, each
    as one line of words, from LICENSE at the top of the tree."""
    with open(harness.source_path("LICENSE")) as f:
        paragraphs = re.split(r"\n\s*\n", f.read().strip())
    return [" ".join(p.split()) for p in paragraphs[2:]]


def check_copyright(checks, work):
    """The package's copyright file, as check_fields unpacked it: Debian's
    machine-readable format, the program's files under the MIT licence
    (Expat), with its full text."""
    path = os.path.join(work, "unpacked", "usr", "share", "doc", "regswitch", "copyright")
    with open(path) as f:
        text = f.read()
    stanzas = re.split(r"\n\s*\n", text.strip())
    checks.check("copyright: Debian's copyright format 1.0",
                 stanzas[0].startswith("Format: https://www.debian.org/doc/"
                                       "packaging-manuals/copyright-format/1.0/\n"),
                 stanzas[0])
    checks.check("copyright: Files: * under License: Expat",
                 any(re.search(r"^Files: \*$", s, re.M) and
                     re.search(r"^License: Expat$", s, re.M) for s in stanzas),
                 text)
    checks.check("copyright: the copyright line of LICENSE",
                 "Copyright: 2026 the regswitch developers" in text)
    # The licence's own stanza: its text, a dot for each blank line.
    found = [s.split("\n", 1)[1] for s in stanzas if s.startswith("License: Expat\n")]
    words = [" ".join(p.split()) for p in re.split(r"\n \.\n", found[0])] if found else []
    checks.check("copyright: the full MIT text of LICENSE", words == license_paragraphs(),
                 repr(words))


def deb():
    lintian = harness.need_command("lintian", "lintian")
    work = harness.fresh_dir("install", "deb")
    checks = harness.Checks()
    package = build_package(work)
    check_fields(checks, package, work)
    check_copyright(checks, work)
    status, out, err = run([lintian, "--fail-on", "error,warning", "--info", package])
    print(out + err)
    checks.check("lintian: no errors or warnings", status == 0,
                 "\n".join(line for line in out.splitlines() if line[:2] in ("E:", "W:")))
    install_package(checks, package, work)
    checks.finish()


# --- The Windows program's zip -----------------------------------------------

def windows_zip():
    state = harness.Fixture("windows-build").load()
    work = harness.fresh_dir("install", "windows-zip")
    log = os.path.join(work, "cpack.log")
    status = harness.run_logged([cpack(), "-G", "ZIP", "--config",
                                 os.path.join(state["build_dir"], "CPackConfig.cmake"),
                                 "-B", work], log)
    name = "regswitch-%s-win32.zip" % version()
    path = os.path.join(work, name)
    if status != 0 or not os.path.isfile(path):
        harness.fail("cpack -G ZIP made no %s:\n%s" % (name, harness.tail(log)))
    checks = harness.Checks()
    with zipfile.ZipFile(path) as archive:
        names = sorted(archive.namelist())
        checks.check("holds regswitch.exe, README.TXT and LICENSE.TXT",
                     names == ["LICENSE.TXT", "README.TXT", "regswitch.exe"], repr(names))
        with open(state["exe"], "rb") as f:
            checks.check("regswitch.exe as built", archive.read("regswitch.exe") == f.read())
        text = archive.read("README.TXT") if "README.TXT" in names else b""
        license = archive.read("LICENSE.TXT") if "LICENSE.TXT" in names else b""
    with open(harness.source_path("LICENSE"), "rb") as f:
        checks.check("LICENSE.TXT: LICENSE with Windows line endings",
                     license == f.read().replace(b"\n", b"\r\n"))
    lines = text.split(b"\r\n")
    checks.check("README.TXT: Windows line endings throughout",
                 text.endswith(b"\r\n") and all(b"\r" not in l and b"\n" not in l for l in lines))
    checks.check("README.TXT: ASCII, lines of at most 76 characters",
                 all(len(l) <= 76 and all(32 <= c < 127 for c in l) for l in lines))
    words = text.decode("ascii", "replace")
    for word in SWITCHES + ["needs no installation", "regswitch %s" % version(),
                            "MIT licence", "LICENSE.TXT"]:
        checks.check("README.TXT tells " + word, word in re.sub(r"\s+", " ", words))
    checks.finish()


COMMANDS = {"man": man, "prefix": prefix, "deb": deb, "windows-zip": windows_zip}

if __name__ == "__main__":
    if len(sys.argv) != 2 or sys.argv[1] not in COMMANDS:
        harness.fail("usage: install_checks.py " + "|".join(COMMANDS))
    COMMANDS[sys.argv[1]]()
