#!/usr/bin/env python3
"""The loaders under libFuzzer, with AddressSanitizer and UBSan:

  fuzz.py build      configures and builds the fuzz preset (build/fuzz)
  fuzz.py seed FILE  runs reg_fuzz on one seed of fuzz/corpus/reg
  fuzz.py run reg    fuzzes the .reg loader for REG_FUZZ_SECONDS (60)
  fuzz.py run creg   fuzzes the CREG loader for CREG_FUZZ_SECONDS (45)
  fuzz.py run merge  merges .reg text into the real Windows 98 and 95 files
                     for MERGE_FUZZ_SECONDS (45), each save read with libcreg
  fuzz.py run creg95 fuzzes it for CREG95_FUZZ_SECONDS (30) from Windows 95
                     files cut from the shared SYSTEM.1ST at test time

What a run discovers goes to build/fuzz/discovered/KIND, what fails to
build/fuzz/crashes/KIND; neither ever into the repository."""

import glob
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "harness"))
import harness  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "creg"))
import creg95  # noqa: E402

BUILD = harness.Fixture("fuzz-build")
TARGETS = ("reg_fuzz", "creg_fuzz", "merge_fuzz")

RUNS = {  # kind: (target, seconds variable, default seconds, -max_len, seeds)
    "reg": ("reg_fuzz", "REG_FUZZ_SECONDS", 60, 8192, "fuzz/corpus/reg"),
    "creg": ("creg_fuzz", "CREG_FUZZ_SECONDS", 45, 65536, "fuzz/corpus/creg"),
    "creg95": ("creg_fuzz", "CREG95_FUZZ_SECONDS", 30, 65536, None),
    # .reg text merged into the real Windows 98 and 95 SYSTEM.DAT.
    "merge": ("merge_fuzz", "MERGE_FUZZ_SECONDS", 45, 8192, "fuzz/corpus/merge"),
}


def windows95_seeds(folder):
    """Small files cut from the shared Windows 95 SYSTEM.1ST, which must
    not go into the repository, so they are made here: checksums in force
    everywhere, a stale key tree and mixed blocks, and flags as that file
    has them."""
    with open(harness.shared_testdata("win95", "SYSTEM.1ST"), "rb") as f:
        system = f.read()
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    variants = {"in-force": (12000, 40, 0x8, [0x8]),
                "stale-tree": (30000, 100, 0x9, [0x9, 0x8]),
                "mixed-flags": (56000, 255, 0x8, [0xC, 0xB, 0x8])}
    for name, args in variants.items():
        with open(os.path.join(folder, "win95-" + name), "wb") as f:
            f.write(creg95.cut_down(system, *args))
    return folder


def build():
    BUILD.begin()
    compiler = harness.preset("fuzz")["cacheVariables"]["CMAKE_CXX_COMPILER"]
    BUILD.need_command(compiler, "clang")
    # libFuzzer's runtime is a package of its own.
    with tempfile.TemporaryDirectory() as probe:
        source = os.path.join(probe, "probe.cpp")
        with open(source, "w") as f:
            f.write("#include <cstddef>\n#include <cstdint>\n"
                    "extern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) "
                    "{ return 0; }\n")
        done = subprocess.run([compiler, "-fsanitize=fuzzer", source, "-o",
                               os.path.join(probe, "probe")],
                              stdin=subprocess.DEVNULL, capture_output=True)
        if done.returncode != 0:
            BUILD.skip("libFuzzer is missing for %s (Debian package libclang-rt-14-dev): %s"
                       % (compiler, done.stderr.decode("utf-8", "replace").strip()[-300:]))

    out = harness.preset_binary_dir("fuzz")
    binaries = {t: os.path.join(out, t) for t in TARGETS}

    def unlink_binaries():  # so that the next run links them again
        for path in binaries.values():
            if os.path.exists(path):
                os.remove(path)

    # The preset makes compiler warnings errors; this catches the linker's.
    harness.build_preset("fuzz", "the fuzz build", timeout=1500, on_warnings=unlink_binaries)
    for path in binaries.values():
        if not os.path.isfile(path):
            harness.fail("the fuzz build made no %s" % path)
    BUILD.ready(build_dir=out, **binaries)


def seed(path):
    binary = BUILD.load()["reg_fuzz"]
    log = os.path.join(harness.work_dir("fuzz", "seeds"), os.path.basename(path) + ".log")
    open(log, "w").close()
    status = harness.run_logged([binary, path], log, timeout=120)
    if status != 0:
        harness.fail("seed %s fails (status %s):\n%s\nreproduce with: %s %s"
                     % (path, status, harness.tail(log), binary, path))
    print("PASS  seed %s" % os.path.relpath(path, harness.config()["source_dir"]))


def run(kind):
    state = BUILD.load()
    target, variable, default, max_len, seeds = RUNS[kind]
    binary = state[target]
    seconds = int(os.environ.get(variable) or default)
    discovered = os.path.join(state["build_dir"], "discovered", kind)
    crashes = os.path.join(state["build_dir"], "crashes", kind)
    for folder in (discovered, crashes):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    log = os.path.join(harness.work_dir("fuzz"), kind + ".log")
    open(log, "w").close()
    seeds = (harness.source_path(seeds) if seeds else
             windows95_seeds(os.path.join(state["build_dir"], "seeds", kind)))
    env = None
    if kind == "merge":
        # Each run loads two real files twice and reads them with libcreg:
        # allocation-heavy work, which ASan's bookkeeping slows the most.
        env = dict(os.environ,
                   ASAN_OPTIONS="malloc_context_size=0:quarantine_size_mb=0",
                   MERGE_FUZZ_FILES=":".join(
            [harness.source_path("tests", "data", "win9x", "SYSTEM.DAT"),
             harness.shared_testdata("win95", "SYSTEM.1ST")]))
    # New inputs go to the first folder only; the seeds are read.
    status = harness.run_logged(
        [binary, "-max_total_time=%d" % seconds, "-max_len=%d" % max_len,
         "-rss_limit_mb=2048", "-artifact_prefix=%s/" % crashes,
         discovered, seeds],
        log, timeout=seconds + 600, env=env)
    if status != 0:
        found = sorted(glob.glob(os.path.join(crashes, "*")))
        harness.fail("the %s fuzz target found a fault (status %s):\n%s\n%s"
                     % (target, status, harness.tail(log),
                        "\n".join("reproduce with: %s %s" % (binary, f) for f in found)
                        or "(no input was saved; log: %s)" % log))
    with open(log, encoding="utf-8", errors="replace") as f:
        done = [line for line in f if line.startswith("Done ")]
    print("PASS  fuzzed %s for %d s: %s; new inputs in %s"
          % (target, seconds, done[-1].strip() if done else "?", discovered))


def main(argv):
    if len(argv) == 2 and argv[1] == "build":
        build()
    elif len(argv) == 3 and argv[1] == "seed":
        seed(argv[2])
    elif len(argv) == 3 and argv[1] == "run" and argv[2] in RUNS:
        run(argv[2])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
