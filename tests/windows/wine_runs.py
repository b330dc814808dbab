#!/usr/bin/env python3
"""regswitch.exe under Wine, in the prefix of the windows-prefix fixture:

  wine_runs.py scenario NAME   a folder of tests/scenarios/
  wine_runs.py startup CASE    the start-up's name skipping (STARTUP_CASES)
  wine_runs.py about           the about box on the virtual display

Each run imports its registry into Wine, runs the program with exactly the
command line it is given (through launch.exe: `wine PROGRAM ARGS` would
quote and join the arguments itself), exports the keys and compares them
with what the run must leave (regcompare.py)."""

import os
import re
import subprocess
import sys

import regcompare
import wine as winelib
from wine import BUILD, Wine, harness, winpath

NAME_SKIPPING_REG = harness.source_path("tests", "windows", "name-skipping.reg")

# The start-up's name skipping, with command lines that Wine would never
# make: APMMenuSuspend starts as FROM and must end as TO; a name that is not
# skipped would show itself by the switch written into it.
STARTUP_CASES = {
    "unquoted-name": ("00", "01", "regswitch /SSP:1"),
    "quoted-name-with-blanks": (
        "00", "01", '"C:\\Program Files\\Reg Switch\\regswitch.exe" /SSP:1'),
    "tab-behind-the-name": ("00", "01", "regswitch\t\t/SSP:1"),
    "no-blank-behind-a-quoted-name": ("00", "01", '"regswitch"/SSP:1'),
    "switch-inside-a-quoted-name": ("01", "00", '"C:\\x /SSP:1\\regswitch.exe" -SSP:0'),
    "switch-inside-an-unquoted-name": ("00", "00", "C:\\TOOLS/SSP:1"),
    "unterminated-quote": ("00", "00", '"C:\\x\\regswitch.exe /SSP:1'),
    "help-form-inside-the-name": ("00", "01", '"C:\\-H\\regswitch.exe" /SSP:1'),
    "no-tail": ("00", "00", "regswitch"),
    "empty-command-line": ("00", "00", ""),
}

ABOUT_CALL = re.compile(
    r'Call user32\.MessageBoxA\(00000000,[0-9a-f]+ "regswitch by the Varnholt '
    r'developers\\nVarnholt Software\\nFirst written December 2026\\nLast updated '
    r'December 2026",[0-9a-f]+ "Varnholt",00000040\)')
APM_KEY = "HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000"


class Run:
    """One run's Wine, files and the program's command line."""

    def __init__(self, name):
        self.build = BUILD.load()
        self.dir = harness.fresh_dir("windows", "runs", name)
        self.log = os.path.join(self.dir, "wine.log")
        self.wine, self.prefix = Wine.for_test(self.log)
        self.display = winelib.DISPLAY.load()

    def prepare(self, before):
        """Wine's registry with BEFORE's keys and nothing of earlier runs."""
        self.wine.regedit_import(self.prefix["clear"])
        self.wine.regedit_import(before)

    def command_file(self, line):
        """launch.exe's file: the program's path, then the command line."""
        path = os.path.join(self.dir, "command")
        with open(path, "wb") as f:
            f.write(("%s\n%s\n" % (winpath(self.build["exe"]), line)).encode("cp1252"))
        return path

    def launch(self, line, env=None, output=None):
        return self.wine.start(self.build["launch"], winpath(self.command_file(line)),
                               output=output or self.log, env=env)

    def export_and_compare(self, expected):
        exports = []
        for i, key in enumerate(regcompare.export_roots(regcompare.parse_reg(expected))):
            path = os.path.join(self.dir, "export%d.reg" % (i + 1))
            self.wine.regedit_export(path, key)
            exports.append(path)
        return regcompare.compare_files(self.prefix["pristine"], expected, exports)


def shows_about_box(tail):
    # The program upper-cases the tail before it looks for a help form.
    upper = tail.upper()
    return any(form in upper for form in ("/?", "-?", "/H", "-H"))


def run_case(name, before, expected, line, about=False):
    """Imports BEFORE, runs regswitch.exe with exactly LINE (closing the
    about box it must show, with ABOUT) and compares the keys with EXPECTED."""
    if about:
        harness.need_command("xdotool", "xdotool")
    run = Run(name)
    run.prepare(before)
    program = run.launch(line)
    if about:
        windows = winelib.find_windows(run.display)
        if not windows:
            winelib.wait(program, timeout=5)
            harness.fail("no about box showed")
        winelib.settle(0.5)
        winelib.press_return(run.display, windows[0])
    status = winelib.wait(program)
    if status is None:
        harness.fail("the program did not end within 120 s:\n" + harness.tail(run.log))
    if status != 0:
        harness.fail("exit status %d:\n%s" % (status, harness.tail(run.log)))
    problems = run.export_and_compare(expected)
    if problems:
        harness.fail("the registry differs from %s:\n%s" % (expected, "\n".join(problems)))
    print("PASS  command line %r: exit status 0, the registry as in %s" % (line, expected))


def scenario(name):
    folder = harness.source_path("tests", "scenarios", name)
    expected = os.path.join(folder, "after.reg")
    if not os.path.exists(expected):
        expected = os.path.join(folder, "before.reg")
    with open(os.path.join(folder, "tail"), "rb") as f:
        tail = f.read().decode("cp1252").rstrip("\r\n")
    # Wine hands the program its own name as a quoted path.
    exe = '"%s"' % winpath(BUILD.load()["exe"])
    run_case("scenario-" + name, os.path.join(folder, "before.reg"), expected,
             "%s %s" % (exe, tail), about=shows_about_box(tail))


def startup(case):
    apm_from, apm_to, line = STARTUP_CASES[case]
    work = harness.fresh_dir("windows", "runs", "startup-" + case + "-files")
    with open(NAME_SKIPPING_REG, "rb") as f:
        template = f.read()

    def apm_file(byte):
        path = os.path.join(work, "%s-%s.reg" % (case, byte))
        with open(path, "wb") as f:
            f.write(template.replace(b'"APMMenuSuspend"=hex:00',
                                     b'"APMMenuSuspend"=hex:' + byte.encode()))
        return path

    run_case("startup-" + case, apm_file(apm_from), apm_file(apm_to), line)


def about():
    harness.need_command("xdotool", "xdotool")
    harness.need_command("import", "imagemagick")
    harness.need_command("convert", "imagemagick")
    run = Run("about")
    checks = harness.Checks()
    run.prepare(NAME_SKIPPING_REG)
    trace = os.path.join(run.dir, "trace.log")
    shot = os.path.join(run.build["build_dir"], "about-box.png")
    if os.path.exists(shot):
        os.remove(shot)
    exe = '"%s"' % winpath(run.build["exe"])
    program = run.launch("%s /SSP:1 /?" % exe, env={"WINEDEBUG": "+relay"}, output=trace)

    windows = winelib.find_windows(run.display)
    winelib.settle(1)  # let it draw
    checks.check("one window captioned Varnholt", len(windows) == 1,
                 "found %s" % (" ".join(windows) or "none"))
    window = windows[0] if windows else None
    if window:
        harness.run_logged(["import", "-window", window, shot], run.log, timeout=60,
                           env=dict(os.environ, **winelib.display_env(run.display)))

    # What the program asked for: this text and caption, one OK button
    # (MB_OK is 0) and the information icon (0x40), in one call.
    with open(trace, "rb") as f:
        calls = [line.decode("ascii", "replace").rstrip()
                 for line in f if b"Call user32.MessageBoxA(" in line]
    checks.check("one MessageBoxA call with the four-line text, caption "
                 "Varnholt and style 0x40 (OK button, information icon)",
                 len(calls) == 1 and bool(ABOUT_CALL.search(calls[0])),
                 "%d call(s)%s" % (len(calls), ": " + "\n".join(calls[:3]) if calls else ""))

    # The icon is drawn: the blue of the information sign, left of the text.
    blue = 0
    if os.path.exists(shot):
        counted = subprocess.run(
            ["convert", shot, "-crop", "60x200+0+20", "-fx", "b > 0.5 && r < 0.5 ? 1 : 0",
             "-format", "%[fx:round(mean*w*h)]", "info:"],
            stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        blue = int(counted.stdout.decode().strip() or 0) if counted.returncode == 0 else 0
    checks.check("the information icon shows", blue > 100,
                 "%d blue pixels left of the text (more than 100)" % blue)

    if window:
        winelib.press_return(run.display, window)
    status = winelib.wait(program, timeout=120 if window else 5)
    checks.check("Return closes it and the exit status is 0", status == 0,
                 "exit status %s" % ("none: still running" if status is None else status))

    export = os.path.join(run.dir, "export.reg")
    run.wine.regedit_export(export, APM_KEY)
    problems = regcompare.compare_files(run.prefix["pristine"], NAME_SKIPPING_REG, [export])
    checks.check("the registry is unchanged", not problems, "\n".join(problems))
    print("screenshot: %s" % shot)
    checks.finish()


def main(argv):
    if len(argv) == 3 and argv[1] == "scenario":
        scenario(argv[2])
    elif len(argv) == 3 and argv[1] == "startup" and argv[2] in STARTUP_CASES:
        startup(argv[2])
    elif len(argv) == 2 and argv[1] == "about":
        about()
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
