"""What every Python test under CTest shares: the policy for a missing tool,
the paths of the build, the state that a fixture hands to its tests, and
running commands with their output in files.

A missing tool skips a test with its reason when it is run by hand (exit
status SKIP, which tests/harness/harness.cmake gives CTest as the test's
SKIP_RETURN_CODE), and fails it when CI is set: CI must never pass by having
tested nothing.
"""

import json
import os
import shutil
import subprocess
import sys

SKIP = 77  # SKIP_RETURN_CODE in tests/harness/harness.cmake


def missing(reason):
    """Ends the test: skipped with REASON, or failed under CI."""
    if os.environ.get("CI"):
        print("FAIL: %s (CI is set, so a missing tool is a failure)" % reason)
        sys.stdout.flush()
        sys.exit(1)
    print("SKIP: %s" % reason)
    sys.stdout.flush()
    sys.exit(SKIP)


def fail(message):
    print("FAIL: %s" % message)
    sys.stdout.flush()
    sys.exit(1)


def need_command(name, package):
    """The path of command NAME; when it is missing the test goes no further."""
    path = shutil.which(name)
    if path is None:
        missing("%s is missing (Debian package %s)" % (name, package))
    return path


def need_module(name, package):
    """Imports Python module NAME; when it is missing the test goes no further."""
    try:
        return __import__(name)
    except ImportError:
        missing("Python module %s is missing for %s (Debian package %s)"
                % (name, sys.executable, package))


# --- The build's paths --------------------------------------------------------

_config = None


def config():
    """Paths of the build that runs the test, written by tests/CMakeLists.txt
    and named by REGSWITCH_TEST_CONFIG in every test's environment."""
    global _config
    if _config is None:
        path = os.environ.get("REGSWITCH_TEST_CONFIG")
        if not path:
            fail("REGSWITCH_TEST_CONFIG is not set: run the test through ctest")
        with open(path) as f:
            _config = json.load(f)
    return _config


def source_path(*parts):
    return os.path.join(config()["source_dir"], *parts)


def shared_testdata(*parts):
    """A file of the shared test data, which is never copied into the
    repository: under REGSWITCH_SHARED_TESTDATA, else where the build found
    it (tests/harness/harness.cmake). When it is missing the test goes no
    further."""
    base = (os.environ.get("REGSWITCH_SHARED_TESTDATA")
            or config()["shared_testdata"])
    path = os.path.normpath(os.path.join(base, *parts))
    if not os.path.isfile(path):
        missing("the shared test file %s is missing (set REGSWITCH_SHARED_TESTDATA "
                "to the folder that holds it)" % path)
    return path


def work_dir(*parts):
    """A folder under the build for the tests' files, made on first use."""
    path = os.path.join(config()["work_dir"], *parts)
    os.makedirs(path, exist_ok=True)
    return path


def fresh_dir(*parts):
    """A test's own folder under the build, emptied: what it leaves there
    stays until its next run, to look at after a failure."""
    path = os.path.join(config()["work_dir"], *parts)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def preset(name):
    """Configure preset NAME of CMakePresets.json, so that the separate
    builds are found where `cmake --preset NAME` puts them."""
    with open(source_path("CMakePresets.json")) as f:
        presets = json.load(f)["configurePresets"]
    for found in presets:
        if found["name"] == name:
            return found
    fail("no configure preset %r in CMakePresets.json" % name)


def preset_binary_dir(name):
    return preset(name)["binaryDir"].replace("${sourceDir}", config()["source_dir"])


# --- Fixtures -----------------------------------------------------------------

class Fixture:
    """The state a fixture's setup test leaves for the tests that need it.

    CTest runs a fixture's tests even when its setup was skipped, so a skip
    is recorded too, and each of those tests ends the same way with the same
    reason."""

    def __init__(self, name):
        self.name = name
        self.path = os.path.join(work_dir("fixtures"), name + ".json")

    def begin(self):
        """Setup starts: nothing from an earlier run may be taken for ready."""
        self.clear()

    def clear(self):
        if os.path.exists(self.path):
            os.remove(self.path)

    def ready(self, **state):
        self._write(dict(state, ready=True))

    def skip(self, reason):
        self._write({"ready": False, "missing": reason})
        missing(reason)

    def need_command(self, name, package):
        path = shutil.which(name)
        if path is None:
            self.skip("%s is missing (Debian package %s)" % (name, package))
        return path

    def load(self, setting_up=None):
        """The setup's state; ends the test as the setup ended if it skipped
        (and, for the setup of fixture SETTING_UP, records that skip too)."""
        state = self.peek()
        if state is None:
            fail("fixture %s is not set up (run the test through ctest, which "
                 "runs its setup first)" % self.name)
        if not state.get("ready"):
            if setting_up is not None:
                setting_up.skip(state["missing"])
            missing(state["missing"])
        return state

    def peek(self):
        """The state as the setup left it, or None."""
        try:
            with open(self.path) as f:
                return json.load(f)
        except FileNotFoundError:
            return None

    def _write(self, state):
        tmp = self.path + ".tmp"
        with open(tmp, "w") as f:
            json.dump(state, f, indent=1)
        os.replace(tmp, self.path)


# --- Running commands ---------------------------------------------------------

def run_logged(args, log, timeout=600, cwd=None, env=None):
    """Runs ARGS with its output appended to the file LOG (never a pipe: a
    background child that keeps it open would hold us up). The exit status,
    or None when it ran past TIMEOUT seconds and was killed."""
    with open(log, "ab") as out:
        out.write(("$ %s\n" % " ".join(args)).encode())
        out.flush()
        try:
            return subprocess.run(args, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.STDOUT, timeout=timeout,
                                  cwd=cwd, env=env).returncode
        except subprocess.TimeoutExpired:
            out.write(b"(killed after %d seconds)\n" % timeout)
            return None


def build_preset(name, what, build_args=(), timeout=600, on_warnings=None):
    """Configures and builds the CMake preset NAME with logs in its work
    folder, and fails (naming WHAT, "the fuzz build") when either step
    fails or the build's output holds a warning, the compiler's or the
    linker's; ON_WARNINGS runs first then. The preset's binary folder."""
    cmake = config()["cmake"]
    source = config()["source_dir"]
    work = work_dir(name)
    configure_log = os.path.join(work, "configure.log")
    build_log = os.path.join(work, "build.log")
    for log in (configure_log, build_log):
        open(log, "w").close()
    if run_logged([cmake, "--preset", name], configure_log, cwd=source) != 0:
        fail("configuring the %s preset failed:\n%s" % (name, tail(configure_log)))
    status = run_logged([cmake, "--build", "--preset", name] + list(build_args),
                        build_log, cwd=source, timeout=timeout)
    with open(build_log, encoding="utf-8", errors="replace") as f:
        output = f.read()
    print(output)
    if status != 0:
        fail("%s failed (log: %s)" % (what, build_log))
    warnings = [line for line in output.splitlines() if "warning" in line.lower()]
    if warnings:
        if on_warnings is not None:
            on_warnings()
        fail("%s gave %d warning(s):\n%s" % (what, len(warnings), "\n".join(warnings)))
    return preset_binary_dir(name)


def tail(path, lines=40):
    """The last LINES lines of a log, for a failure's message."""
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8", "replace")
    except OSError:
        return "(no log at %s)" % path
    return "\n".join(text.splitlines()[-lines:])


class Checks:
    """Named checks within one test: one line each, and the test fails when
    any of them did."""

    def __init__(self):
        self.failed = []

    def check(self, name, ok, detail=""):
        print("%s  %s%s" % ("PASS" if ok else "FAIL", name,
                            ": " + detail if detail else ""))
        sys.stdout.flush()
        if not ok:
            self.failed.append(name)
        return ok

    def finish(self):
        if self.failed:
            fail("%d check(s) failed: %s" % (len(self.failed), "; ".join(self.failed)))
        sys.exit(0)
