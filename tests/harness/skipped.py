#!/usr/bin/env python3
"""Says why tests were skipped in the last ctest run of a build folder:

  skipped.py BUILD_DIR

CTest shows a skipped test as "***Skipped" and keeps its output only in
Testing/Temporary/LastTest.log, where harness.missing() wrote the reason."""

import os
import re
import sys


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    log = os.path.join(argv[1], "Testing", "Temporary", "LastTest.log")
    try:
        with open(log, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except FileNotFoundError:
        return 0
    by_reason = {}
    for test in re.finditer(r"^\d+/\d+ Test: ([^\n]+)\n.*?^Output:\n-+\n(.*?)^<end of output>",
                            text, re.S | re.M):
        for line in test.group(2).splitlines():
            if line.startswith("SKIP: "):
                by_reason.setdefault(line[len("SKIP: "):], []).append(test.group(1))
    for reason, names in sorted(by_reason.items()):
        shown = ", ".join(names[:3]) + (" and %d more" % (len(names) - 3)
                                        if len(names) > 3 else "")
        print("skipped %d test(s): %s (%s)" % (len(names), reason, shown))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
