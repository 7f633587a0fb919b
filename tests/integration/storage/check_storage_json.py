#!/usr/bin/python3
"""Runs `kyvex storage --json` (optionally through a runner such as Wine) and checks that the
lists hold together: counts, links from drive letters to physical devices, and on Linux the
sizes against /sys."""
import json
import os
import subprocess
import sys

cmd = sys.argv[1:] + ["storage", "--json"]
out = subprocess.run(cmd, capture_output=True, timeout=300)
if out.returncode != 0:
    sys.exit(f"{cmd} failed ({out.returncode}): {out.stderr.decode(errors='replace')}")
storage = json.loads(out.stdout.decode("utf-8"))
physical, logical = storage["PhysicalDevices"], storage["LogicalDevices"]
if storage["PhysicalCount"] != len(physical) or storage["LogicalCount"] != len(logical):
    sys.exit("counts differ from the lists")
letters = [d["Drive"] for d in logical]
if letters != sorted(set(letters)) or any(len(l) != 1 for l in letters):
    sys.exit(f"drive letters {letters}")
for d in logical:
    if not d["Model"] or d["Device"] != ord(d["Drive"]) or not 0 <= d["PHYSIndex"] < len(physical):
        sys.exit(f"logical record {d['Drive']}: {d}")
for d in physical:
    if d["PHYSIndex"] != -1:
        sys.exit(f"physical record with PHYSIndex {d['PHYSIndex']}")

# On Linux every whole disk the layer numbers is in /sys/block, and a size read through
# the geometry never exceeds the capacity sysfs gives.
if sys.platform.startswith("linux") and not sys.argv[1:-1]:
    disks = sorted(n for n in os.listdir("/sys/block") if n.startswith(("sd", "hd", "vd", "xvd", "nvme", "mmcblk")))
    for d in physical:
        if d["Drive"] or d["DeviceType"] not in (0, 7):
            continue
        sizes = [int(open(f"/sys/block/{n}/size").read()) * 512 for n in disks]
        if d["Size"] and not any(0 <= s - d["Size"] < 255 * 63 * 4096 for s in sizes):
            sys.exit(f"{d['Model']}: size {d['Size']} matches no disk of /sys/block ({sizes})")
print("ok:", len(physical), "physical,", len(logical), "logical")
