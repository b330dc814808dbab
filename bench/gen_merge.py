#!/usr/bin/env python3
"""Writes the .reg files of the benchmark's merges: N keys under
HKEY_LOCAL_MACHINE\\Software\\Bench, in groups of a thousand.

  base  each key made with two values, "Keep" and "Drop" (the 100k-key
        merge; it is also the .reg target of the next)
  sd    in each key, "Keep" set anew and "Drop" deleted

usage: gen_merge.py OUT N base|sd"""
import sys

out_path, n, mode = sys.argv[1], int(sys.argv[2]), sys.argv[3]
EOL = "\r\n"
with open(out_path, "w", encoding="latin-1", newline="") as f:
    f.write("REGEDIT4" + EOL + EOL)
    for i in range(n):
        f.write(f"[HKEY_LOCAL_MACHINE\\Software\\Bench\\Group{i // 1000:03d}"
                f"\\Key{i:06d}]{EOL}")
        if mode == "base":
            f.write(f'"Keep"="value {i}"{EOL}"Drop"=dword:{i:08x}{EOL}{EOL}')
        else:
            f.write(f'"Keep"="changed {i}"{EOL}"Drop"=-{EOL}{EOL}')
