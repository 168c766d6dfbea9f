#!/usr/bin/env python3
"""Where the executable's bytes go: its stripped size against the 320 KiB budget, then the
largest contributors by input file, read from the linker's map file (-Wl,-Map), code and
read-only data and their unwind tables counted. Figures only, nothing asserted.

usage: size_breakdown.py EXE MAP [STRIP] [TOP]
"""

import collections
import os
import re
import shutil
import subprocess
import sys
import tempfile

BUDGET = 320 * 1024
# Input sections that end up in the executable's code and data.
KEPT = re.compile(r"^ (\.text|\.rdata|\.data|\.pdata|\.xdata)\S*")


def contributors(map_path):
    sizes = collections.Counter()
    pending = False  # a section name too long for its line: address, size and file follow
    with open(map_path, errors="replace") as lines:
        for line in lines:
            if line.startswith("Linker script and memory map"):
                pending = False
            whole = re.match(KEPT.pattern + r"\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S+)", line)
            if whole:
                sizes[os.path.basename(whole.group(3))] += int(whole.group(2), 16)
                pending = False
                continue
            if KEPT.match(line) and len(line.split()) == 1:
                pending = True
                continue
            rest = re.match(r"^\s+0x[0-9a-f]{8,}\s+0x([0-9a-f]+)\s+(\S+)", line)
            if pending and rest:
                sizes[os.path.basename(rest.group(2))] += int(rest.group(1), 16)
            pending = False
    return sizes


def main():
    exe, map_path = sys.argv[1], sys.argv[2]
    strip = sys.argv[3] if len(sys.argv) > 3 else "x86_64-w64-mingw32-strip"
    top = int(sys.argv[4]) if len(sys.argv) > 4 else 12
    with tempfile.TemporaryDirectory() as folder:
        copy = os.path.join(folder, "stripped.exe")
        shutil.copyfile(exe, copy)
        subprocess.run([strip, copy], check=True, timeout=60)
        stripped = os.path.getsize(copy)
    print(f"executable size, stripped: {stripped} bytes ({stripped / 1024:.1f} KiB; "
          f"budget {BUDGET // 1024} KiB, {'within' if stripped <= BUDGET else 'OVER'} by "
          f"{abs(BUDGET - stripped)} bytes)")
    print(f"largest contributors (code, data and unwind tables, from {os.path.basename(map_path)}):")
    for name, size in contributors(map_path).most_common(top):
        print(f"  {size:8d}  {name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
