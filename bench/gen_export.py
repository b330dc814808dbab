#!/usr/bin/env python3
"""Writes a large REGEDIT4 export for the benchmark: about SIZE_MB megabytes
(default 100), mostly small keys under Software, a wide Enum\\SCSI tree of CD
drives (some with AutoInsertNotification off), a chain 500 keys deep under
Enum\\SCSI, and IDE controllers that /DMA:1 turns on.

usage: gen_export.py OUT [SIZE_MB]"""
import sys

out_path = sys.argv[1]
target = int(float(sys.argv[2]) * 1_000_000) if len(sys.argv) > 2 else 100_000_000
EOL = "\r\n"
HKLM = "[HKEY_LOCAL_MACHINE\\"

with open(out_path, "w", encoding="latin-1", newline="") as f:
    w = f.write
    w("REGEDIT4" + EOL + EOL)
    written = 0
    # IDE controllers for /DMA:1.
    hdc = HKLM + "System\\CurrentControlSet\\Services\\Class\\hdc"
    w(hdc + "]" + EOL + EOL)
    for c in range(4):
        w(f'{hdc}\\{c:04d}]{EOL}"PortDriver"="ESDI_506.PDR"{EOL}'
          f'"InfPath"="MSHDC.INF"{EOL}"InfSection"="GOOD_IDE"{EOL}'
          f'"IDEDMADRIVE0"=hex:00{EOL}"IDEDMADRIVE1"=hex:00{EOL}{EOL}')
    # The SCSI tree for /CDP:1: a tenth of the file.
    scsi = HKLM + "Enum\\SCSI"
    w(scsi + "]" + EOL + EOL)
    deep = scsi + "\\DEEP"
    for level in range(500):
        deep += f"\\L{level}"
        w(deep + "]" + EOL)
    w('"AutoInsertNotification"=hex:00' + EOL + EOL)
    i = 0
    while f.tell() < target // 10:
        dev = f"{scsi}\\VENDOR{i // 8:05d}_CD-ROM_DRIVE"
        if i % 8 == 0:
            w(dev + "]" + EOL + EOL)
        w(f'{dev}\\ROOT&SCSIADAPTER&{i % 8:04d}]{EOL}"Class"="CDROM"{EOL}'
          f'"AutoInsertNotification"=hex:0{i % 2}{EOL}{EOL}')
        i += 1
    # Filler: software keys in groups, a value or two each.
    g = 0
    while f.tell() < target:
        base = f"{HKLM}Software\\Vendor{g // 100:04d}\\Product{g:06d}"
        w(base + "]" + EOL + f'"Version"="{g}.0"' + EOL + EOL)
        for k in range(10):
            w(f'{base}\\Setting{k}]{EOL}"Value"=dword:{g * 10 + k:08x}{EOL}{EOL}')
        g += 1
