#!/usr/bin/env bash
# Fuzzes the .reg loader (REGEDIT4 and UTF-16 Version 5.00) with libFuzzer
# under AddressSanitizer and UBSan for a bounded time (REG_FUZZ_SECONDS,
# default 60). The seed corpus is fuzz/corpus/reg; what the run discovers
# goes to a temporary folder, never into the repository.
# Prints a line per check and "N passed, M failed" at the end.
set -uo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=scripts/lib.sh
. scripts/lib.sh

passed=0
failed=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

if ! need_packages clang libclang-rt-14-dev; then
  fail "cannot install clang and libclang-rt-14-dev"
  finish
fi
cxx=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$cxx" ]; then
  # Under CI a missing tool is a failure; elsewhere it is reported and skipped.
  if [ "${CI:-}" = true ]; then fail "clang++ not found"; else echo "SKIP: clang++ not found"; fi
  finish
fi

seconds=${REG_FUZZ_SECONDS:-60}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build/fuzz "$work/corpus"
rm -f build/fuzz/crash-* build/fuzz/leak-* build/fuzz/timeout-* build/fuzz/oom-*

if "$cxx" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined \
     -fno-sanitize-recover=all -Wall -Wextra -Werror -Isrc -o build/fuzz/reg_fuzz \
     fuzz/reg_fuzz.cpp $(find src/host/registry src/host/files src/host/formats -name "*.cpp") \
     2>"$work/build.log"; then
  pass "built the .reg fuzz target with ASan and UBSan"
else
  cat "$work/build.log"
  fail "building the .reg fuzz target"
  finish
fi

# Every seed on its own first, so a broken seed names itself.
if build/fuzz/reg_fuzz -runs=0 fuzz/corpus/reg >"$work/seeds.log" 2>&1; then
  pass "replayed $(find fuzz/corpus/reg -type f | wc -l) seeds"
else
  tail -30 "$work/seeds.log"
  fail "a seed in fuzz/corpus/reg fails"
fi

if build/fuzz/reg_fuzz -max_total_time="$seconds" -max_len=8192 \
     -rss_limit_mb=2048 -artifact_prefix=build/fuzz/ "$work/corpus" fuzz/corpus/reg \
     >"$work/fuzz.log" 2>&1; then
  pass "fuzzed the .reg loader for ${seconds}s: $(grep -o 'Done [0-9]* runs' "$work/fuzz.log")"
else
  tail -40 "$work/fuzz.log"
  crash=$(ls build/fuzz/crash-* build/fuzz/leak-* build/fuzz/timeout-* build/fuzz/oom-* 2>/dev/null | head -1)
  [ -n "$crash" ] && echo "reproduce with: build/fuzz/reg_fuzz $crash"
  fail "the .reg fuzz target found a fault"
fi
finish
