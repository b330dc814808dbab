#!/usr/bin/env bash
# Builds everything and runs every test (this is what CI runs): installs what
# is missing (scripts/setup.sh), then runs every suite under CTest in the host
# build, then the unit, scenario, CREG and image tests again under
# AddressSanitizer and UBSan. The Windows and fuzz suites make builds of their own from the
# host run. Exits non-zero when any test fails; with CI set, a test whose tool
# is missing fails too instead of being skipped.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
jobs=$(nproc)

# run_preset NAME: configure, build and test one preset, then say why any
# test was skipped (CTest itself only says that it was).
run_preset() {
  local preset=$1 status=0
  echo "== $preset"
  cmake --preset "$preset" >/dev/null || return 1
  cmake --build --preset "$preset" -j "$jobs" || return 1
  ctest --preset "$preset" -j "$jobs" || status=1
  /usr/bin/python3 tests/harness/skipped.py "build/$preset"
  return $status
}

failed=0
run_preset host || failed=1
run_preset sanitize || failed=1
if [ "$failed" -ne 0 ]; then
  echo "some tests failed"
  exit 1
fi
echo "all test suites passed"
