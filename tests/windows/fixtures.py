#!/usr/bin/env python3
"""Setup and cleanup of the Windows tests' fixtures:

  fixtures.py build            cross-builds regswitch.exe and launch.exe
  fixtures.py display-start    starts Xvfb, for the about box
  fixtures.py display-stop
  fixtures.py prefix-setup     a fresh 32-bit Wine prefix, ready for the runs
  fixtures.py prefix-cleanup
"""

import glob
import os
import secrets
import shutil
import signal
import subprocess
import sys
import time

from wine import BUILD, DISPLAY, PREFIX, Wine, harness
import regcompare


def build():
    BUILD.begin()
    BUILD.need_command("i686-w64-mingw32-g++", "g++-mingw-w64-i686")
    # Built from clean every time, so that every warning shows in every run.
    out = harness.build_preset("windows", "the cross build", ["--clean-first"])
    exe = os.path.join(out, "regswitch.exe")
    launch = os.path.join(out, "launch.exe")
    for path in (exe, launch):
        if not os.path.isfile(path):
            harness.fail("the build made no %s" % path)
    BUILD.ready(exe=exe, launch=launch, build_dir=out)


def display_start():
    DISPLAY.begin()
    DISPLAY.need_command("Xvfb", "xvfb")
    DISPLAY.need_command("xauth", "xauth")
    work = harness.work_dir("windows", "display")
    auth = os.path.join(work, "Xauthority")
    log = os.path.join(work, "xvfb.log")
    cookie = secrets.token_hex(16)
    # The first free display number, as xvfb-run -a picks it; a display taken
    # meanwhile by someone else makes Xvfb stop at once, and the next is tried.
    for number in range(90, 190):
        if (os.path.exists("/tmp/.X%d-lock" % number) or
                os.path.exists("/tmp/.X11-unix/X%d" % number)):
            continue
        name = ":%d" % number
        open(auth, "w").close()
        if harness.run_logged(["xauth", "-f", auth, "add", name, ".", cookie],
                              log, timeout=30) != 0:
            harness.fail("xauth failed:\n" + harness.tail(log))
        with open(log, "ab") as out:
            server = subprocess.Popen(
                ["Xvfb", name, "-screen", "0", "800x600x24", "-nolisten", "tcp",
                 "-auth", auth], stdin=subprocess.DEVNULL, stdout=out,
                stderr=subprocess.STDOUT, start_new_session=True)
        deadline = time.time() + 15
        while (server.poll() is None and time.time() < deadline and
               not os.path.exists("/tmp/.X11-unix/X%d" % number)):
            time.sleep(0.1)
        if server.poll() is None and os.path.exists("/tmp/.X11-unix/X%d" % number):
            DISPLAY.ready(display=name, xauthority=auth, pid=server.pid)
            print("Xvfb on display %s (process %d)" % (name, server.pid))
            return
        if server.poll() is None:
            server.kill()
            server.wait()
    harness.fail("Xvfb did not start:\n" + harness.tail(log))


def display_stop():
    state = DISPLAY.peek()
    DISPLAY.clear()
    if not state or not state.get("ready"):
        return  # nothing was started
    pid = state["pid"]
    # Only the Xvfb that display-start started, by its process id.
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            command = f.read().split(b"\0")
    except OSError:
        print("Xvfb (process %d) had already ended" % pid)
        return
    if os.path.basename(command[0]) != b"Xvfb" or command[1] != state["display"].encode():
        print("process %d is no longer our Xvfb; left alone" % pid)
        return
    os.kill(pid, signal.SIGTERM)
    print("stopped Xvfb on %s (process %d)" % (state["display"], pid))


def wine_prefix_dir():
    return os.path.join(harness.work_dir("windows"), "prefix")


def prefix_setup():
    PREFIX.begin()
    display = DISPLAY.load(setting_up=PREFIX)
    for command in ("wine", "wineserver", "wineboot"):
        PREFIX.need_command(command, "wine")
    # Debian's 64-bit-only Wine cannot make a 32-bit prefix.
    if os.path.exists("/usr/lib/wine/wine64") and not os.path.exists("/usr/lib/wine/wine"):
        PREFIX.skip("32-bit Wine is missing (Debian package wine32:i386)")
    work = harness.work_dir("windows")
    prefix = wine_prefix_dir()
    log = os.path.join(work, "prefix.log")
    open(log, "w").close()
    wine = Wine(prefix, display, log)
    wine.tool("wineserver", "-k", timeout=60)  # one left from a run that broke off
    shutil.rmtree(prefix, ignore_errors=True)
    started = time.time()
    if wine.tool("wineboot", "-i", timeout=300) != 0 or \
            wine.tool("wineserver", "-w", timeout=60) != 0:
        harness.fail("could not set up a Wine prefix:\n" + harness.tail(log))
    print("prefix %s made in %.0f s" % (prefix, time.time() - started))

    # Wine's own keys, before any import.
    pristine = os.path.join(work, "pristine.reg")
    shutil.copyfile(os.path.join(prefix, "system.reg"), pristine)
    # One server for all the runs, rather than one started for each.
    if wine.tool("wineserver", "-p", timeout=60) != 0:
        harness.fail("wineserver -p failed:\n" + harness.tail(log))
    # A window frame of Wine's own, caption and all, as there is no window
    # manager; relay traces only for calls out of regswitch.exe.
    settings = os.path.join(work, "settings.reg")
    with open(settings, "w", newline="\r\n") as f:
        f.write("REGEDIT4\n\n"
                "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"
                "\"Decorated\"=\"N\"\n\n"
                "[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\n"
                "\"RelayFromInclude\"=\"regswitch.exe\"\n")
    wine.regedit_import(settings)

    # Removes every key tree that a run may add to Wine's registry.
    clear = os.path.join(work, "clear.reg")
    regcompare.plan(pristine, clear,
                    sorted(glob.glob(harness.source_path("tests", "scenarios", "*", "before.reg"))) +
                    [harness.source_path("tests", "windows", "name-skipping.reg")])
    PREFIX.ready(prefix=prefix, pristine=pristine, clear=clear)


def prefix_cleanup():
    PREFIX.clear()
    prefix = wine_prefix_dir()
    if os.path.isdir(prefix) and shutil.which("wineserver"):
        log = os.path.join(harness.work_dir("windows"), "prefix.log")
        harness.run_logged(["wineserver", "-k"], log, timeout=60,
                           env=dict(os.environ, WINEPREFIX=prefix))
    shutil.rmtree(prefix, ignore_errors=True)
    print("removed %s" % prefix)


COMMANDS = {
    "build": build,
    "display-start": display_start,
    "display-stop": display_stop,
    "prefix-setup": prefix_setup,
    "prefix-cleanup": prefix_cleanup,
}

if __name__ == "__main__":
    if len(sys.argv) != 2 or sys.argv[1] not in COMMANDS:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    COMMANDS[sys.argv[1]]()
