#!/usr/bin/python3
"""Storage files exchanged between the Linux build and the Windows builds (under Wine).

Each build saves this machine into a file. Then, for every file:
- `kyvex show FILE --json` prints the same values in every build (everything but the file's own
  name), and the file holds all three components;
- Windows' ole32 reads the same tree, the same property names and the same values as our
  engine does (every line of the two dumps is equal).
Besides the Windows build under test, another Windows build (the other architecture) may take
part: --other-windows-kyvex, run through the same Wine runner.
Exit 77 (skipped) when the Linux build's programs are not there.
"""
import argparse
import difflib
import json
import os
import subprocess
import sys

ap = argparse.ArgumentParser()
ap.add_argument("--wine", required=True)
ap.add_argument("--windows-kyvex", required=True)
ap.add_argument("--ole32-dump", required=True)
ap.add_argument("--linux-kyvex", required=True)
ap.add_argument("--linux-dump", required=True)
ap.add_argument("--other-windows-kyvex", default="")
ap.add_argument("--work", required=True)
args = ap.parse_args()

for prog in (args.linux_kyvex, args.linux_dump):
    if not os.access(prog, os.X_OK):
        print(f"skipped: {prog} has not been built (the Linux build comes first in scripts/test.sh)")
        sys.exit(77)

if args.other_windows_kyvex and not os.path.exists(args.other_windows_kyvex):
    sys.exit(f"{args.other_windows_kyvex} has not been built (scripts/test.sh builds both Windows builds)")
args.other_windows_kyvex = os.path.abspath(args.other_windows_kyvex) if args.other_windows_kyvex else ""

os.makedirs(args.work, exist_ok=True)
os.chdir(args.work)  # relative names: the same file for a Linux and a Windows program

LINUX = [args.linux_kyvex]
WINDOWS = [args.wine, args.windows_kyvex]
BUILDS = {"Linux": LINUX, "Windows": WINDOWS}
if args.other_windows_kyvex:
    BUILDS["other Windows"] = [args.wine, args.other_windows_kyvex]


def run(prog, *rest):
    out = subprocess.run(prog + list(rest), capture_output=True, timeout=400)
    if out.returncode != 0:
        sys.exit(f"{' '.join(prog + list(rest))} failed ({out.returncode}): {out.stderr.decode(errors='replace')}")
    return out.stdout.decode("utf-8")


def without_file_names(value):
    """The loaded data without the names the file was opened by, which differ by platform."""
    if isinstance(value, dict):
        return {k: without_file_names(v) for k, v in value.items() if k not in ("File", "StorageFileName")}
    if isinstance(value, list):
        return [without_file_names(v) for v in value]
    return value


def first_difference(a, b, path="$"):
    if type(a) is not type(b):
        return f"{path}: {a!r} / {b!r}"
    if isinstance(a, dict):
        for k in list(a) + [k for k in b if k not in a]:
            if k not in a or k not in b:
                return f"{path}.{k}: only in one"
            d = first_difference(a[k], b[k], f"{path}.{k}")
            if d:
                return d
        return None
    if isinstance(a, list):
        if len(a) != len(b):
            return f"{path}: {len(a)} / {len(b)} entries"
        for i, (x, y) in enumerate(zip(a, b)):
            d = first_difference(x, y, f"{path}[{i}]")
            if d:
                return d
        return None
    return None if a == b else f"{path}: {a!r} / {b!r}"


files = {f"{platform.lower().replace(' ', '-')}.kyx": prog for platform, prog in BUILDS.items()}
for name, writer in files.items():
    if os.path.exists(name):
        os.remove(name)
    run(writer, "save", name)

failed = False
for name in files:
    shown = {platform: without_file_names(json.loads(run(reader, "show", name, "--json")))
             for platform, reader in BUILDS.items()}
    held = shown["Linux"]
    if not held["CPU"] or held["SMBIOS"] is None or held["Storage"] is None:
        print(f"{name}: a component is missing: {len(held['CPU'])} processors, SMBIOS "
              f"{held['SMBIOS'] is not None}, Storage {held['Storage'] is not None}")
        failed = True
    if any(cpu["LiveData"] for cpu in held["CPU"]):
        print(f"{name}: loaded processors claim to be live")
        failed = True
    differences = [(p, first_difference(held, shown[p])) for p in BUILDS if p != "Linux"]
    differences = [(p, d) for p, d in differences if d]
    for platform, diff in differences:
        print(f"{name}: Linux and {platform} read it differently (Linux / {platform}): {diff}")
        failed = True
    if not differences:
        print(f"{name}: same in {', '.join(BUILDS)} ({len(held['CPU'])} processors, "
              f"{held['Storage']['PhysicalCount']} physical devices, machine {held['StorageInfo']['MachineName']})")

    ours = run([args.linux_dump], name)
    theirs = run([args.wine, args.ole32_dump], name)
    if ours != theirs:
        print(f"{name}: ole32 reads it differently from our engine:")
        sys.stdout.writelines(list(difflib.unified_diff(ours.splitlines(True), theirs.splitlines(True),
                                                         "our engine", "ole32", n=1))[:40])
        failed = True
    else:
        props = sum(1 for line in ours.splitlines() if line.startswith("property "))
        print(f"{name}: ole32 reads the same {props} values")
    for want in ("storage /CPU/0", "property /CPU/0 DocumentSummaryInformation 2 CPUCount = I8 ",
                 "storage /SMBIOS", "storage /Storage/PhysicalDevices",
                 "property / SummaryInformation 4 "):
        if want not in ours:
            print(f"{name}: the dump has no line with {want!r}")
            failed = True

sys.exit(1 if failed else 0)
