#!/usr/bin/env bash
# Builds regswitch.exe and tests it: its PE image and instructions against
# what Windows 95 loads and runs, its size, every scenario under Wine, the
# start-up's name skipping under Wine, and the about box on a virtual X
# display. One line per check, then "N passed, M failed"; exits non-zero on
# any failure. A missing tool is a failure, never a skip.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# shellcheck source=scripts/lib.sh
. scripts/lib.sh

passed=0
failed=0
pass() { echo "PASS  $*"; passed=$((passed + 1)); }
fail() { echo "FAIL  $*"; failed=$((failed + 1)); }
check() {  # check NAME COMMAND...: passes when the command succeeds
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
  exit
}

# Runs the rest on a virtual X display of its own, for the about box.
if [ -z "${REGSWITCH_ON_XVFB:-}" ]; then
  need_packages cmake mingw-w64 g++-mingw-w64-i686 wine wine64 wine32:i386 \
    xvfb xauth xdotool imagemagick python3 ||
    fail "install the tools"
  for tool in cmake i686-w64-mingw32-g++ i686-w64-mingw32-objdump wine \
    wineserver xvfb-run xdotool import convert python3; do
    command -v "$tool" >/dev/null || fail "tool $tool is missing"
  done
  [ "$failed" -eq 0 ] || finish
  REGSWITCH_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 800x600x24" bash "$0" "$@"
fi

build=$root/build/windows
exe=$build/regswitch.exe
objdump=i686-w64-mingw32-objdump

# --- Build ------------------------------------------------------------------

if cmake --preset windows >"$root/build/windows-configure.log" 2>&1 &&
  cmake --build --preset windows 2>&1 | tee "$root/build/windows-build.log"; then
  if grep -qiE 'warning|error' "$root/build/windows-build.log"; then
    fail "build regswitch.exe without warnings"
  else
    pass "build regswitch.exe without warnings"
  fi
else
  fail "build regswitch.exe (see build/windows-configure.log)"
  finish
fi

# --- The image --------------------------------------------------------------

headers=$($objdump -p "$exe")
field() { awk -v f="$1" '$1 == f { print $2; exit }' <<<"$headers"; }

# "DLL function" per import; an import by ordinal shows no name.
imports=$(awk '
  /DLL Name:/ { dll = toupper($3); next }
  /^[ \t]*$/ { dll = "" }
  dll && /^\t[0-9a-f]+\t/ { print dll, ($3 == "" ? "(ordinal)" : $3) }
' <<<"$headers")
allowed="KERNEL32.DLL GetCommandLineA
KERNEL32.DLL ExitProcess
KERNEL32.DLL lstrcmpiA
KERNEL32.DLL lstrcatA
USER32.DLL MessageBoxA
ADVAPI32.DLL RegOpenKeyA
ADVAPI32.DLL RegEnumKeyA
ADVAPI32.DLL RegEnumValueA
ADVAPI32.DLL RegQueryValueExA
ADVAPI32.DLL RegSetValueExA
ADVAPI32.DLL RegCloseKey"
unknown=$(grep -vxF -f <(echo "$allowed") <<<"$imports")
if [ -n "$imports" ] && [ -z "$unknown" ] &&
  grep -qx "KERNEL32.DLL ExitProcess" <<<"$imports"; then
  pass "imports only Windows 95 calls: $(awk '{ print $2 }' <<<"$imports" | tr '\n' ' ')"
else
  fail "imports outside the allow-list: ${unknown:-none found at all}"
fi

check "subsystem Windows GUI" grep -qE '^Subsystem\s+00000002' <<<"$headers"
check "subsystem version 4.0" \
  test "$(field MajorSubsystemVersion).$(field MinorSubsystemVersion)" = 4.0
check "OS version 4.0" \
  test "$(field MajorOSystemVersion).$(field MinorOSystemVersion)" = 4.0
check "section alignment 4096" test "$(field SectionAlignment)" = 00001000
check "file alignment 512" test "$(field FileAlignment)" = 00000200
check "no TLS directory" \
  grep -qE '^Entry 9 0+ 0+ Thread Storage' <<<"$headers"

# Nothing runs before our entry point: no constructor or TLS callback lists.
sections=$($objdump -h "$exe" | awk '$1 ~ /^[0-9]+$/ { print $2 }' | tr '\n' ' ')
if [ -n "$sections" ] && ! grep -qE '\.(tls|CRT|ctors|init_array)' <<<"$sections"; then
  pass "no start-up sections of a C runtime (sections: $sections)"
else
  fail "no start-up sections of a C runtime (sections: ${sections:-none})"
fi

disassembly=$($objdump -d --no-show-raw-insn "$exe")
instructions=$(grep -cE '^ +[0-9a-f]+:\s+[a-z]' <<<"$disassembly")
newer=$(grep -E '^ +[0-9a-f]+:\s+(cmov[a-z]*|bswap|cpuid|rdtsc[a-z]*|cmpxchg[0-9a-z]*|xadd[a-z]*|invd|wbinvd|invlpg)\b|%x?mm[0-9]' <<<"$disassembly")
if [ "$instructions" -gt 100 ] && [ -z "$newer" ]; then
  pass "no instruction newer than the 386 ($instructions instructions)"
else
  fail "instructions newer than the 386 or no code: ${newer:-$instructions instructions}"
fi

size=$(stat -c %s "$exe")
if [ "$size" -le 4096 ]; then
  pass "size $size bytes, at most 4096"
else
  fail "size $size bytes, more than 4096"
fi

# --- Under Wine -------------------------------------------------------------

check "the registry comparer catches differences" \
  python3 tests/windows/regcompare_test.py -q 2>/dev/null

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all \
  WINEDLLOVERRIDES=mscoree,mshtml=
cleanup() {
  wineserver -k >/dev/null 2>&1 </dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Wine's output goes to files: its background processes keep pipes open.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
wine_run() {  # wine_run LOG ARGS...: the program's exit status
  local log=$1
  shift
  timeout 120 wine "$@" >>"$log" 2>&1 </dev/null
}

compare=$root/tests/windows/regcompare.py
log=$work/wine.log

wineserver -k >/dev/null 2>&1 </dev/null
if ! timeout 300 wineboot -i >"$work/boot.log" 2>&1 </dev/null ||
  ! timeout 60 wineserver -w >/dev/null 2>&1 </dev/null; then
  fail "set up a Wine prefix (see $work/boot.log)"
  finish
fi
# Wine's own keys, before any import.
cp "$WINEPREFIX/system.reg" "$work/pristine.reg"
# A window frame of Wine's own, caption and all, as there is no window
# manager; relay traces only for calls out of regswitch.exe.
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Decorated"="N"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\r\n"RelayFromInclude"="regswitch.exe"\r\n' \
  >"$work/settings.reg"
wineserver -p >"$work/server.log" 2>&1 </dev/null
wine_run "$log" regedit /s "$(winpath "$work/settings.reg")"

# Removes every key tree the scenarios add to Wine's registry.
python3 "$compare" plan "$work/pristine.reg" "$work/clear.reg" \
  tests/scenarios/*/before.reg "$root/tests/windows/name-skipping.reg"

# Presses Return on the about box once it shows; fails if none shows.
close_about_box() {
  local window
  window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Varnholt$' \
    2>/dev/null | head -n 1)
  [ -n "$window" ] || return 1
  sleep 0.5
  xdotool key --window "$window" Return 2>/dev/null
}

# run_case NAME BEFORE EXPECTED COMMAND_LINE [about]: imports BEFORE, runs
# regswitch.exe with exactly COMMAND_LINE (closing the about box it must
# show, with "about"), exports the keys and compares them with EXPECTED.
run_case() {
  local name=$1 before=$2 expected=$3 line=$4 about=${5:-}
  local case_dir status
  case_dir=$(mktemp -d -p "$work")
  wine_run "$log" regedit /s "$(winpath "$work/clear.reg")"
  wine_run "$log" regedit /s "$(winpath "$before")"
  printf '%s\n%s\n' "$(winpath "$exe")" "$line" >"$case_dir/command"
  if [ -n "$about" ]; then
    wine_run "$log" "$build/launch.exe" "$(winpath "$case_dir/command")" &
    local program=$!
    close_about_box || fail "$name: no about box"
    wait "$program"
    status=$?
  else
    wine_run "$log" "$build/launch.exe" "$(winpath "$case_dir/command")"
    status=$?
  fi
  local i=0 key
  while IFS= read -r key; do
    i=$((i + 1))
    wine_run "$log" regedit /e "$(winpath "$case_dir/export$i.reg")" "$key"
  done < <(python3 "$compare" roots "$expected")
  if [ "$status" -ne 0 ]; then
    fail "$name: exit status $status"
  elif python3 "$compare" compare "$work/pristine.reg" "$expected" \
    "$case_dir"/export*.reg >"$case_dir/diff" 2>&1; then
    pass "$name"
  else
    fail "$name"
    cat "$case_dir/diff"
  fi
}

quoted_exe="\"$(winpath "$exe")\""
for dir in tests/scenarios/*/; do
  scenario=$(basename "$dir")
  expected=$dir/after.reg
  [ -f "$expected" ] || expected=$dir/before.reg
  tail=$(cat "$dir/tail")
  # The program upper-cases the tail before it looks for a help form.
  case ${tail^^} in
    */\?* | *-\?* | */H* | *-H*) about=about ;;
    *) about= ;;
  esac
  run_case "scenario $scenario under Wine" "$root/$dir/before.reg" \
    "$root/$expected" "$quoted_exe $tail" $about
done

# The start-up's name skipping, with command lines Wine would never make.
# APMMenuSuspend starts as FROM and must end as TO; a name that is not
# skipped would reveal itself by the switch written into it.
apm_file() {  # apm_file BYTE PATH
  sed "s/\"APMMenuSuspend\"=hex:00/\"APMMenuSuspend\"=hex:$1/" \
    "$root/tests/windows/name-skipping.reg" >"$2"
}
name_case() {  # name_case NAME FROM TO COMMAND_LINE
  apm_file "$2" "$work/from.reg"
  apm_file "$3" "$work/to.reg"
  run_case "start-up: $1" "$work/from.reg" "$work/to.reg" "$4"
}
tab=$'\t'
name_case "unquoted name" 00 01 'regswitch /SSP:1'
name_case "quoted name with blanks" 00 01 '"C:\Program Files\Reg Switch\regswitch.exe" /SSP:1'
name_case "tab behind the name" 00 01 "regswitch${tab}${tab}/SSP:1"
name_case "no blank behind a quoted name" 00 01 '"regswitch"/SSP:1'
name_case "switch inside a quoted name" 01 00 '"C:\x /SSP:1\regswitch.exe" -SSP:0'
name_case "switch inside an unquoted name" 00 00 'C:\TOOLS/SSP:1'
name_case "unterminated quote" 00 00 '"C:\x\regswitch.exe /SSP:1'
name_case "help form inside the name" 00 01 '"C:\-H\regswitch.exe" /SSP:1'
name_case "no tail" 00 00 'regswitch'
name_case "empty command line" 00 00 ''

# --- The about box ----------------------------------------------------------

about() {
  local before=$root/tests/windows/name-skipping.reg
  local trace=$work/about-trace.log shot=$build/about-box.png
  wine_run "$log" regedit /s "$(winpath "$work/clear.reg")"
  wine_run "$log" regedit /s "$(winpath "$before")"
  printf '%s\n%s /SSP:1 /?\n' "$(winpath "$exe")" "$quoted_exe" >"$work/about"
  WINEDEBUG=+relay timeout 120 wine "$build/launch.exe" \
    "$(winpath "$work/about")" >"$trace" 2>&1 </dev/null &
  local program=$!

  local windows
  windows=$(timeout 30 xdotool search --sync --onlyvisible --name '^Varnholt$' \
    2>/dev/null)
  sleep 1  # let it draw
  if [ "$(wc -w <<<"$windows")" -eq 1 ]; then
    pass "about box: one window captioned Varnholt"
  else
    fail "about box: one window captioned Varnholt (found: ${windows:-none})"
  fi
  local window=${windows%%[[:space:]]*}
  [ -n "$window" ] && import -window "$window" "$shot" 2>/dev/null

  # What the program asked for: this text and caption, one OK button
  # (MB_OK is 0) and the information icon (0x40), in one call.
  local calls
  calls=$(grep -c 'Call user32.MessageBoxA(' "$trace")
  if [ "$calls" -eq 1 ] && grep -qE 'Call user32\.MessageBoxA\(00000000,[0-9a-f]+ "regswitch by the Varnholt developers\\nVarnholt Software\\nFirst written December 2026\\nLast updated December 2026",[0-9a-f]+ "Varnholt",00000040\)' "$trace"; then
    pass "about box: four-line text, information icon, OK button only"
  else
    fail "about box: four-line text, information icon, OK button only"
    grep -m3 'MessageBox' "$trace"
  fi

  # The icon is drawn: the blue of the information sign, left of the text.
  local blue=0
  [ -f "$shot" ] && blue=$(convert "$shot" -crop 60x200+0+20 \
    -fx 'b > 0.5 && r < 0.5 ? 1 : 0' -format '%[fx:round(mean*w*h)]' info:)
  if [ "${blue:-0}" -gt 100 ]; then
    pass "about box: the information icon shows ($blue blue pixels)"
  else
    fail "about box: the information icon shows (${blue:-0} blue pixels)"
  fi

  [ -n "$window" ] && xdotool key --window "$window" Return 2>/dev/null
  wait "$program"
  local status=$?
  check "about box: Return closes it and the exit status is 0" \
    test "$status" -eq 0
  local export_file=$work/about-export.reg
  wine_run "$log" regedit /e "$(winpath "$export_file")" \
    'HKEY_LOCAL_MACHINE\Enum\Root\*PNP0C05\0000'
  check "about box: the registry is unchanged" python3 "$compare" compare \
    "$work/pristine.reg" "$before" "$export_file"
  echo "      screenshot: $shot"
}
about

finish
