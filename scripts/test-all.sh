#!/usr/bin/env bash
# Builds everything and runs every test: the host tests (plain and under
# AddressSanitizer and UBSan), then each further suite in scripts/test-*.sh.
# Installs what it needs from Debian's packages when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=scripts/lib.sh
. scripts/lib.sh
need_packages cmake g++ libgtest-dev

jobs=$(nproc)
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
ctest --preset host -j "$jobs"

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j "$jobs"
ctest --preset sanitize -j "$jobs"

# Further suites, each installing what it needs.
for suite in scripts/test-*.sh; do
  [ "$suite" = scripts/test-all.sh ] && continue
  echo "== $suite"
  bash "$suite"
done
echo "all test suites passed"
