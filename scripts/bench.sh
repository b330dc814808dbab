#!/usr/bin/env bash
# Benchmark, not a test (CI does not run it): generates a large REGEDIT4
# export (BENCH_MB megabytes, default 100: about a million keys, a wide and
# a 500-deep Enum\SCSI tree) and reports the time and peak memory of
#   regswitch --registry FILE --dry-run /SSP:0   (loading, and one key)
#   regswitch --registry FILE /CDP:1 /DMA:1      (a save)
#   regswitch --registry FILE --show             (REGEDIT4 only)
# each as a ratio to cp of the same file in the same run (targets: load 2x,
# save 3x, --show 4x and at most the file's size in memory), for the
# REGEDIT4 file and the same registry as a UTF-16 Version 5.00 file. Then
# merges of 100,000 keys (bench/gen_merge.py) into the Windows 9x
# SYSTEM.DAT of the tests (tests/data/win9x, Windows Me's): making them (and its dry run), and setting one
# value and deleting another in each of them, into that SYSTEM.DAT and into
# a .reg file of the same keys (targets: 2 s; a dry run no slower than the
# save). Each time is the best of BENCH_RUNS runs (default 3). Then the
# same work on a 10 MB export and the 100,000-key merge with Wine's own
# regedit (/s import, /e export) in a fresh prefix, for scale (target: the
# merge 10x faster than regedit's). Set BENCH_WINE=0 to leave Wine out.
#
# Then disk images (BENCH_IMAGE=0 leaves them out): a 4 GB raw disk with
# one FAT32 partition holding that SYSTEM.DAT and 3 GB of
# other files, and the same as qcow2, each with
#   regswitch --image DISK --show     (target: 1 s)
#   regswitch --image DISK /DMA:1     (a change; target: 2 s)
# against cp --sparse=always of the raw disk.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

mb=${BENCH_MB:-100}
work=$(mktemp -d)
cleanup() {
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/bench -j "$(nproc)" --target regswitch >/dev/null
regswitch=build/bench/regswitch

runs=${BENCH_RUNS:-3}
cp_secs=0  # the last cp's time, which later lines are compared with

# measure LABEL FILE_BYTES COMMAND...: one line of seconds (the best of
# $runs, and its ratio to the last cp) and peak memory. A command that
# changes its file gets it back from $work/pristine before each run.
measure() {
  local label=$1 bytes=$2
  shift 2
  local best="" kb=0 secs k
  for _ in $(seq "$runs"); do
    [ -f "$work/pristine" ] && cp "$work/pristine" "$work/${run_file:-run.reg}"
    sync
    # What a run tells on standard error (a switch that found nothing to
    # change in the generated file) is no part of the figures.
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/stderr"
    read -r secs k <"$work/time"
    if [ -z "$best" ] || awk -v a="$secs" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$secs
    fi
    [ "$k" -gt "$kb" ] && kb=$k
  done
  case $label in cp*) cp_secs=$best ;; esac
  awk -v l="$label" -v s="$best" -v c="$cp_secs" -v k="$kb" -v b="$bytes" 'BEGIN {
    ratio = c > 0 ? sprintf("%5.1fx cp", s / c) : "        "
    printf "%-44s %7.2f s %s %8.1f MB peak (%.2fx the file)\n", l, s, ratio, k / 1024, k * 1024 / b }'
  last_secs=$best
}

utf16() {  # REGEDIT4 -> Version 5.00 in UTF-16LE with its byte-order mark
  { printf '\xff\xfe'
    sed '1s/^REGEDIT4/Windows Registry Editor Version 5.00/' "$1" |
      iconv -f WINDOWS-1252 -t UTF-16LE; } >"$2"
}

echo "generating a ${mb} MB export..."
python3 bench/gen_export.py "$work/big.reg" "$mb"
bytes=$(stat -c %s "$work/big.reg")
keys=$(grep -c '^\[' "$work/big.reg")
echo "file: $bytes bytes, $keys keys"
cat "$work/big.reg" >/dev/null  # in the page cache, as for cp
measure "cp (REGEDIT4)" "$bytes" cp "$work/big.reg" "$work/copy.reg"
measure "regswitch load: --dry-run /SSP:0 (REGEDIT4)" "$bytes" \
  "$regswitch" --registry "$work/big.reg" --dry-run /SSP:0
awk -v b="$bytes" -v s="$last_secs" 'BEGIN { printf "  %.2f GB/s\n", b / s / 1e9 }'
cp "$work/big.reg" "$work/pristine"
measure "regswitch /CDP:1 /DMA:1 (REGEDIT4)" "$bytes" \
  "$regswitch" --registry "$work/run.reg" /CDP:1 /DMA:1
rm -f "$work/pristine"
echo "  $(cmp -l "$work/big.reg" "$work/run.reg" | wc -l) bytes differ from the original"
measure "regswitch --show (REGEDIT4)" "$bytes" \
  "$regswitch" --registry "$work/big.reg" --show
rm -f "$work/copy.reg" "$work/run.reg"

utf16 "$work/big.reg" "$work/big5.reg"
bytes5=$(stat -c %s "$work/big5.reg")
measure "cp (Version 5.00, $((bytes5 / 1000000)) MB)" "$bytes5" cp "$work/big5.reg" "$work/copy.reg"
measure "regswitch load: --dry-run /SSP:0 (Version 5.00)" "$bytes5" \
  "$regswitch" --registry "$work/big5.reg" --dry-run /SSP:0
cp "$work/big5.reg" "$work/pristine"
measure "regswitch /CDP:1 /DMA:1 (Version 5.00)" "$bytes5" \
  "$regswitch" --registry "$work/run.reg" /CDP:1 /DMA:1
rm -f "$work/pristine"
rm -f "$work/big5.reg" "$work/copy.reg" "$work/run.reg" "$work/big.reg"

echo "merges of 100,000 keys into SYSTEM.DAT (tests/data/win9x) and a .reg file"
python3 bench/gen_merge.py "$work/keys.reg" 100000 base
python3 bench/gen_merge.py "$work/setdel.reg" 100000 sd
keys_bytes=$(stat -c %s "$work/keys.reg")
cp_secs=0  # no cp to compare with
run_file=run.dat
cp tests/data/win9x/SYSTEM.DAT "$work/pristine"
measure "merge: 100,000 new keys into SYSTEM.DAT" "$keys_bytes" \
  "$regswitch" --registry "$work/run.dat" --merge "$work/keys.reg"
merge_secs=$last_secs
measure "merge: the same, --dry-run" "$keys_bytes" \
  "$regswitch" --registry "$work/run.dat" --merge "$work/keys.reg" --dry-run
"$regswitch" --registry "$work/run.dat" --merge "$work/keys.reg"
cp "$work/run.dat" "$work/pristine"
measure "merge: set one, delete one in 100,000 keys" "$keys_bytes" \
  "$regswitch" --registry "$work/run.dat" --merge "$work/setdel.reg"
run_file=run.reg
cp "$work/keys.reg" "$work/pristine"
measure "merge: the same into a .reg file" "$keys_bytes" \
  "$regswitch" --registry "$work/run.reg" --merge "$work/setdel.reg"
rm -f "$work/pristine" "$work/run.dat" "$work/run.reg" "$work/setdel.reg"

bench_images() {
  local disk=$work/disk.img start=2048 sectors
  echo "4 GB disk image: one FAT32 partition, tests/data/win9x's SYSTEM.DAT, 3 GB of files"
  truncate -s 4G "$disk"
  sectors=$(( (4 << 21) - start ))
  echo "start=$start, size=$sectors, type=c, bootable" | /usr/sbin/sfdisk -q "$disk"
  /usr/sbin/mkfs.fat -F 32 --offset "$start" "$disk" $((sectors / 2)) >/dev/null
  local at="$disk@@$((start * 512))" i
  export MTOOLS_SKIP_CHECK=1
  mmd -i "$at" ::/WINDOWS
  mcopy -i "$at" tests/data/win9x/SYSTEM.DAT tests/data/win9x/USER.DAT ::/WINDOWS/
  head -c $((64 << 20)) /dev/urandom >"$work/file.bin"
  for i in $(seq 48); do mcopy -i "$at" "$work/file.bin" "::/FILE$i.BIN"; done
  rm -f "$work/file.bin"
  unset MTOOLS_SKIP_CHECK
  local bytes
  bytes=$(stat -c %s "$disk")
  cp --sparse=always "$disk" "$work/pristine"
  measure "cp --sparse=always (4 GB raw disk)" "$bytes" \
    cp --sparse=always "$disk" "$work/copy.img"
  rm -f "$work/copy.img"
  measure_image "--image --show (4 GB raw)" "$bytes" "$disk" --show
  measure_image "--image /DMA:1 (4 GB raw)" "$bytes" "$disk" /DMA:1
  qemu-img convert -f raw -O qcow2 "$work/pristine" "$work/pristine.qcow2"
  bytes=$(stat -c %s "$work/pristine.qcow2")
  measure_image "--image --show (qcow2 of it)" "$bytes" "$work/disk.qcow2" --show
  measure_image "--image /DMA:1 (qcow2 of it)" "$bytes" "$work/disk.qcow2" /DMA:1
  rm -f "$disk" "$work/pristine" "$work/pristine.qcow2" "$work/disk.qcow2"
}

# measure_image LABEL BYTES IMAGE ARGS...: like measure, the image put back
# from its pristine copy (not timed) before each run.
measure_image() {
  local label=$1 bytes=$2 image=$3 best="" kb=0 secs k
  shift 3
  for _ in $(seq "$runs"); do
    case $image in
      *.qcow2) cp --sparse=always "$work/pristine.qcow2" "$image" ;;
      *) cp --sparse=always "$work/pristine" "$image" ;;
    esac
    sync
    /usr/bin/time -f "%e %M" -o "$work/time" "$regswitch" --image "$image" "$@" >/dev/null
    read -r secs k <"$work/time"
    if [ -z "$best" ] || awk -v a="$secs" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$secs
    fi
    [ "$k" -gt "$kb" ] && kb=$k
  done
  awk -v l="regswitch $label" -v s="$best" -v c="$cp_secs" -v k="$kb" 'BEGIN {
    printf "%-44s %7.2f s %5.2fx cp %8.1f MB peak\n", l, s, s / c, k / 1024 }'
}

[ "${BENCH_IMAGE:-1}" = 0 ] || bench_images

[ "${BENCH_WINE:-1}" = 0 ] && exit 0
if ! command -v wine >/dev/null; then
  echo "wine not installed: no comparison with regedit"
  exit 0
fi
echo "10 MB export: regswitch and Wine's regedit"
runs=1 cp_secs=0  # once each, and no cp to compare with
python3 bench/gen_export.py "$work/small.reg" 10
small=$(stat -c %s "$work/small.reg")
cp "$work/small.reg" "$work/pristine"
measure "regswitch /CDP:1 /DMA:1 (10 MB)" "$small" \
  "$regswitch" --registry "$work/run.reg" /CDP:1 /DMA:1
rm -f "$work/pristine"
export WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
wineboot -i >/dev/null 2>&1
wineserver -w
# The registry lives in wineserver: run it in the foreground under time.
/usr/bin/time -f "%e %M" -o "$work/server.time" wineserver -f -p60 &
server=$!
sleep 1
measure "wine regedit /s (import, 10 MB)" "$small" wine regedit /s "$work/small.reg"
measure "wine regedit /e (export HKLM)" "$small" \
  wine regedit /e "$work/export.reg" HKEY_LOCAL_MACHINE
echo "  export: $(stat -c %s "$work/export.reg") bytes"
measure "wine regedit /s (the 100,000-key merge)" "$keys_bytes" \
  wine regedit /s "$work/keys.reg"
awk -v w="$last_secs" -v r="$merge_secs" \
  'BEGIN { printf "  regswitch merges it %.1fx faster\n", w / r }'
wineserver -k || true
wait "$server" || true
read -r _ kb <"$work/server.time"
awk -v k="$kb" 'BEGIN { printf "%-44s %18.1f MB peak\n", "wineserver (holds the registry)", k / 1024 }'
