"""What the Windows tests share: their fixtures' names and Wine in the
suite's prefix.

Wine's output always goes to files: its background processes (wineserver,
explorer) keep a pipe open long after the program ended."""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "harness"))
import harness  # noqa: E402

# The fixtures, as tests/windows/CMakeLists.txt names them.
BUILD = harness.Fixture("windows-build")      # regswitch.exe and launch.exe
DISPLAY = harness.Fixture("windows-display")  # Xvfb
PREFIX = harness.Fixture("windows-prefix")    # a 32-bit Wine prefix

CAPTION = "Varnholt"  # the about box's


def winpath(path):
    """PATH as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def display_env(display):
    return {"DISPLAY": display["display"], "XAUTHORITY": display["xauthority"]}


class Wine:
    """Wine in the suite's prefix, on its display, logging to LOG."""

    def __init__(self, prefix, display, log):
        self.log = log
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEARCH="win32",
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        **display_env(display))

    @classmethod
    def for_test(cls, log):
        """Wine as the prefix fixture set it up; ends the test as the
        fixtures' setup ended when one of them was skipped."""
        display = DISPLAY.load()
        prefix = PREFIX.load()
        return cls(prefix["prefix"], display, log), prefix

    def run(self, *args, timeout=120, env=None):
        """The exit status of `wine ARGS...`, or None on a time-out."""
        return harness.run_logged(["wine"] + list(args), self.log,
                                  timeout=timeout, env=dict(self.env, **(env or {})))

    def start(self, *args, output, env=None):
        """Starts `wine ARGS...` in the background, its output to OUTPUT."""
        with open(output, "ab") as out:
            out.write(("$ wine %s &\n" % " ".join(args)).encode())
            out.flush()
            return subprocess.Popen(["wine"] + list(args), stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT,
                                    env=dict(self.env, **(env or {})))

    def tool(self, *args, timeout=300):
        """A Wine tool (wineboot, wineserver) in this prefix."""
        return harness.run_logged(list(args), self.log, timeout=timeout, env=self.env)

    def regedit_import(self, path):
        if self.run("regedit", "/s", winpath(path)) != 0:
            harness.fail("regedit could not import %s:\n%s" % (path, harness.tail(self.log)))

    def regedit_export(self, path, key):
        if self.run("regedit", "/e", winpath(path), key) != 0 or not os.path.exists(path):
            harness.fail("regedit could not export %s:\n%s" % (key, harness.tail(self.log)))


def find_windows(display, timeout=30):
    """The ids of the visible windows captioned CAPTION once one shows (none
    after TIMEOUT seconds)."""
    env = dict(os.environ, **display_env(display))
    with open(os.devnull, "wb") as devnull:
        try:
            found = subprocess.run(
                ["xdotool", "search", "--sync", "--onlyvisible", "--name",
                 "^%s$" % CAPTION], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                stderr=devnull, env=env, timeout=timeout)
        except subprocess.TimeoutExpired:
            return []
    return found.stdout.decode().split()


def press_return(display, window):
    env = dict(os.environ, **display_env(display))
    return subprocess.run(["xdotool", "key", "--window", window, "Return"],
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, env=env).returncode == 0


def wait(process, timeout=120):
    """The exit status of a background run, or None when it did not end."""
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None


def settle(seconds):
    time.sleep(seconds)
