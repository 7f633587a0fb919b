#!/usr/bin/env python3
"""Makes a recorded machine of N processors from a recorded one (its first processor repeated
with its own APIC ID), for `kyvex --sysroot DIR save` to write a storage file of N processors:
    many_processors.py CAPTURE_DIR N OUT_DIR
"""
import re
import shutil
import sys


def main(source, count, out):
    shutil.copytree(source, out, symlinks=True)
    leaves = open(f"{source}/cpuid.txt").read()
    first = re.split(r"(?m)^CPU \d+:\n", leaves)[1]
    with open(f"{out}/cpuid.txt", "w") as f:
        for i in range(count):
            block = re.sub(r"(0x00000001 0x00: eax=0x[0-9a-f]{8} ebx=0x)[0-9a-f]{2}",
                           lambda m: m.group(1) + f"{i & 0xFF:02x}", first)
            f.write(f"CPU {i}:\n{block}")
    lines = open(f"{source}/clocks.txt").read().splitlines()
    clock = next(l for l in lines if l.startswith("processor 0:"))
    with open(f"{out}/clocks.txt", "w") as f:
        f.write("\n".join([l for l in lines if l.startswith("#")] +
                          [clock.replace("processor 0:", f"processor {i}:") for i in range(count)]) + "\n")
    machine = open(f"{out}/machine.txt").read()
    with open(f"{out}/machine.txt", "w") as f:
        f.write(re.sub(r"(?m)^processors = \d+$", f"processors = {count}", machine))
    with open(f"{out}/fs/sys/devices/system/cpu/online", "w") as f:
        f.write(f"0-{count - 1}\n")


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]), sys.argv[3])
