#!/usr/bin/env bash
# Windows 9x registry files (CREG): builds the host program and the CREG
# tests in build/creg, runs them, cross-checks every tweak on and off on a
# copy of a real Windows 98 SYSTEM.DAT with libcreg, an independent reader,
# and fuzzes the CREG loader for a bounded time under ASan and UBSan.
# Prints a line per check and "N passed, M failed" at the end.
set -uo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=scripts/lib.sh
. scripts/lib.sh
need_packages cmake g++ libgtest-dev python3-libcreg libcreg-utils clang \
  libclang-rt-14-dev || { echo "FAIL: cannot install what the checks need"; exit 1; }

passed=0
failed=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
# Under CI a missing tool fails the run; elsewhere it is reported and skipped.
missing() {
  if [ "${CI:-}" = true ]; then fail "$* (missing)"; else echo "SKIP: $* (missing)"; fi
}

build=build/creg
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
system=tests/data/win9x/SYSTEM.DAT
fuzz_seconds=${CREG_FUZZ_SECONDS:-45}

if cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
   cmake --build "$build" -j "$(nproc)" --target regswitch creg_tool creg_tests >/dev/null; then
  pass "build"
else
  fail "build"
  echo "$passed passed, $failed failed"
  exit 1
fi
regswitch=$build/regswitch
tool=$build/tests/creg_tool

if "$build/tests/creg_tests" >"$work/gtest.log" 2>&1; then
  pass "CREG unit tests"
else
  tail -40 "$work/gtest.log"
  fail "CREG unit tests"
fi

# libcreg's view of a file, in creg_tool's dump format.
libcreg_dump() { /usr/bin/python3 tests/creg_libcreg_dump.py "$1"; }

if ! /usr/bin/python3 -c 'import pycreg' 2>/dev/null; then
  missing "python3-libcreg (pycreg)"
else
  libcreg_dump "$system" >"$work/orig.lib" || fail "libcreg reads the original"
  "$tool" dump "$system" >"$work/orig.our"
  if cmp -s "$work/orig.lib" "$work/orig.our"; then
    pass "our loader reads SYSTEM.DAT exactly as libcreg does ($(wc -l <"$work/orig.lib") lines)"
  else
    fail "our loader and libcreg differ on SYSTEM.DAT"
  fi

  # expect TAIL: the values each tweak must leave, as dump lines; every
  # other line must stay as it was.
  hdc='System\CurrentControlSet\Services\Class\hdc'
  ddc='System\CurrentControlSet\Services\Class\DISPLAY\0000\DEFAULT'
  cdrom='Enum\SCSI\VBOX____CD-ROM__________1\MF&CHILD0001&PCI&VEN_8086&DEV_7111&SUBSYS_00000000&REV_01&BUS_00&DEV_01&FUNC_0100'
  expect() {
    case "$1" in
      /SSP:1) echo 'V Enum\Root\*PNP0C05\0000|APMMenuSuspend|3|01' ;;
      /SSP:0) echo 'V Enum\Root\*PNP0C05\0000|APMMenuSuspend|3|00' ;;
      /ACS:*) echo 'V System\CurrentControlSet\Control\FileSystem|ACDriveSpinDown|3|00000000' ;;
      /DDC:1) echo "V $ddc|DDC|1|3100" ;;
      /DDC:0) echo "V $ddc|DDC|1|3000" ;;
      /DMA:1 | /DMA:0)
        local b=0${1#/DMA:}
        for c in 0001 0002; do
          echo "V $hdc\\$c|IDEDMADRIVE0|3|$b"
          echo "V $hdc\\$c|IDEDMADRIVE1|3|$b"
        done ;;
      /DIN:*) ;;  # this machine has no DeskMgmt component
      /CDP:1) echo "V $cdrom|AutoInsertNotification|3|01" ;;
      /CDP:0) echo "V $cdrom|AutoInsertNotification|3|00" ;;
    esac
  }
  # The original dump with the expected values set: replaced where the value
  # exists, added after the key's last value otherwise.
  apply_expected() {
    /usr/bin/python3 - "$1" "$2" <<'PY'
import sys
lines = open(sys.argv[1], encoding="cp1252").read().splitlines()
for want in open(sys.argv[2], encoding="cp1252").read().splitlines():
    path, name = want[2:].split("|")[:2]
    prefix = "V %s|%s|" % (path, name)
    hit = [i for i, l in enumerate(lines) if l.upper().startswith(prefix.upper())]
    if hit:
        lines[hit[0]] = want
        continue
    at = lines.index("K " + path) + 1
    while at < len(lines) and lines[at].startswith("V %s|" % path):
        at += 1
    lines.insert(at, want)
sys.stdout.write("\n".join(lines) + "\n")
PY
  }
  for tail in /SSP:1 /SSP:0 /ACS:1 /ACS:0 /DDC:1 /DDC:0 /DMA:1 /DMA:0 /DIN:1 /DIN:0 /CDP:1 /CDP:0; do
    copy=$work/SYSTEM.DAT
    cp "$system" "$copy"
    chmod u+w "$copy"
    if ! "$regswitch" --registry "$copy" "$tail" >"$work/out" 2>&1; then
      fail "$tail: regswitch failed: $(cat "$work/out")"
      continue
    fi
    expect "$tail" >"$work/want"
    apply_expected "$work/orig.lib" "$work/want" >"$work/expected"
    if ! libcreg_dump "$copy" >"$work/after.lib" 2>"$work/err"; then
      fail "$tail: libcreg cannot read the result: $(tail -c 300 "$work/err")"
      continue
    fi
    "$tool" dump "$copy" >"$work/after.our"
    if cmp -s "$work/expected" "$work/after.lib" && cmp -s "$work/expected" "$work/after.our"; then
      pass "$tail: libcreg and our loader read exactly the expected values ($(stat -c %s "$copy") bytes)"
    else
      diff "$work/expected" "$work/after.lib" | head -5 | cut -c1-160
      fail "$tail: the result differs from what was expected"
    fi
  done

  # The writer's harder cases: records that grow past their block's free
  # space or out of it entirely, read back by libcreg.
  for size in 5 3000 40000; do
    copy=$work/GROW.DAT
    cp "$system" "$copy"
    chmod u+w "$copy"
    data=$(head -c "$size" /dev/zero | tr '\0' '\253' | od -An -tx1 -v | tr -d ' \n')
    key='Enum\Root\*PNP0C05\0000'
    if "$tool" set "$copy" "$key" Grown 3 "$data" &&
       libcreg_dump "$copy" >"$work/grow.lib" 2>"$work/err"; then
      echo "V $key|Grown|3|$data" >"$work/want"
      apply_expected "$work/orig.lib" "$work/want" >"$work/expected"
      if cmp -s "$work/expected" "$work/grow.lib"; then
        pass "a $size-byte value added: libcreg reads it and everything else unchanged"
      else
        fail "a $size-byte value added: libcreg reads something else"
      fi
    else
      fail "a $size-byte value added: not written or not readable"
    fi
  done
fi

if command -v cregexport >/dev/null; then
  cp "$system" "$work/DMA.DAT"
  chmod u+w "$work/DMA.DAT"
  "$regswitch" --registry "$work/DMA.DAT" /DMA:1 >/dev/null 2>&1
  if cregexport "$work/DMA.DAT" >"$work/export" 2>&1 &&
     [ "$(grep -c 'IDEDMADRIVE' "$work/export")" -eq 4 ]; then
    pass "cregexport lists the four DMA values after /DMA:1"
  else
    fail "cregexport after /DMA:1"
  fi
else
  missing "cregexport (libcreg-utils)"
fi

# A broken file is refused with exit status 2 and left as it was.
head -c 70000 "$system" >"$work/CUT.DAT"
cp "$work/CUT.DAT" "$work/CUT.orig"
"$regswitch" --registry "$work/CUT.DAT" /DMA:1 >/dev/null 2>"$work/err"
status=$?
if [ "$status" -eq 2 ] && grep -q "not a usable Windows 9x registry file" "$work/err" &&
   cmp -s "$work/CUT.DAT" "$work/CUT.orig"; then
  pass "a truncated SYSTEM.DAT is refused: $(cut -c1-100 "$work/err")"
else
  fail "a truncated SYSTEM.DAT (status $status)"
fi

# Fuzzing the loader and writer.
if command -v clang++-14 >/dev/null || command -v clang++ >/dev/null; then
  cxx=$(command -v clang++-14 || command -v clang++)
  mkdir -p build/creg-fuzz
  if "$cxx" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined \
       -fno-sanitize-recover=all -Wall -Wextra -Isrc -o build/creg-fuzz/creg_fuzz \
       fuzz/creg_fuzz.cpp $(find src/host/registry src/host/files src/host/formats -name "*.cpp") \
       2>"$work/fuzzbuild"; then
    mkdir -p "$work/corpus"
    if build/creg-fuzz/creg_fuzz -max_total_time="$fuzz_seconds" -max_len=65536 \
         -rss_limit_mb=2048 "$work/corpus" fuzz/corpus/creg >"$work/fuzz.log" 2>&1; then
      pass "fuzzed the CREG loader for ${fuzz_seconds}s: $(grep -o 'Done [0-9]* runs' "$work/fuzz.log")"
    else
      tail -30 "$work/fuzz.log"
      fail "the CREG fuzz target found a crash"
    fi
  else
    cat "$work/fuzzbuild"
    fail "building the CREG fuzz target"
  fi
else
  missing "clang++ for the fuzz target"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
