#!/usr/bin/python3
"""`kyvex save FILE` then `kyvex show FILE --json` (optionally through a runner such as Wine):
the header and the three components read back describe the machine that `kyvex report --json`
describes."""
import json
import os
import subprocess
import sys

prog = sys.argv[1:]
name = "saved-by-test.kyx"  # relative: the same file for a Linux and a Windows program
if os.path.exists(name):
    os.remove(name)


def run(*args):
    out = subprocess.run(prog + list(args), capture_output=True, timeout=300)
    if out.returncode != 0:
        sys.exit(f"{args} failed ({out.returncode}): {out.stderr.decode(errors='replace')}")
    return out.stdout.decode("utf-8")


before = json.loads(run("report", "--json"))
run("save", name)
whole = json.loads(run("show", name, "--json"))
shown = whole["StorageInfo"]
report = json.loads(run("report", "--json"))
# Some hypervisors pass the host's APIC IDs through in leaf 1, and they change when a virtual
# processor moves to another host processor: what changed between the reading before and the
# one after the save cannot be held against the file.
moving = {key for key in ("APICID", "LogicalID", "PhysicalID")
          if [c[key] for c in before["CPU"]] != [c[key] for c in report["CPU"]]}
if moving:
    print(f"note: {', '.join(sorted(moving))} changed between two readings on this machine; not compared")
system = report["System"]
expected_os = system["OSName"] + (" " + system["Edition"] if system["Edition"] else "")
checks = {
    "MachineName": system["MachineName"],
    "OSName": expected_os,
    "Platform": system["Platform"],
    "MajorVersion": system["MajorVersion"],
    "MinorVersion": system["MinorVersion"],
    "BuildNumber": system["BuildNumber"],
    "CSDVersion": system["CSDVersion"],
    "AccountType": system["AccountType"],
    "Account": system["Account"],
    "LoggedUser": system["LoggedUser"],
    "Application": "Kyvex System Information Component Suite 10.2.0",
}
for key, want in checks.items():
    if shown[key] != want:
        sys.exit(f"{key}: shown {shown[key]!r}, expected {want!r}")
if not shown["CreationTimeText"]:
    sys.exit("no creation time")

# Every processor, with what identifies it and every feature flag; the clock is measured anew by
# each run, so it only has to be there.
cpus, live_cpus = whole["CPU"], report["CPU"]
if len(cpus) != len(live_cpus):
    sys.exit(f"{len(cpus)} processors in the file, {len(live_cpus)} on the machine")
for saved, live in zip(cpus, live_cpus):
    if saved["LiveData"] or not live["LiveData"]:
        sys.exit("file data shown as live, or live data as loaded")
    for key in ("CPUIndex", "CPUCount", "CPUPhysicalCount", "Vendor", "Family", "Model", "Stepping", "APICID",
                "LogicalID", "PhysicalID", "IntelBrand", "CPUName", "MarketingName", "GenericName", "CodeName",
                "SerialNumber", "Cache", "Features"):
        if key not in moving and saved[key] != live[key]:
            sys.exit(f"processor {live['CPUIndex']} {key}: file {saved[key]!r}, machine {live[key]!r}")
    if live["Frequency"] and not saved["Frequency"]:
        sys.exit(f"processor {live['CPUIndex']}: no clock in the file")

# The firmware tables: the decoded values and the record counts.
if whole["SMBIOS"] is None:
    sys.exit("the file holds no SMBIOS storage")
for key in ("Version", "BIOSVendor", "BIOSVersion", "SystemManufacturer", "SystemModel", "SystemUUID",
            "ProcessorCount", "MemoryDeviceCount"):
    saved, live = whole["SMBIOS"].get(key), report["SMBIOS"].get(key)
    if saved != live:
        sys.exit(f"SMBIOS {key}: file {saved!r}, machine {live!r}")

# The storage devices, one by one.
storage, live_storage = whole["Storage"], report["Storage"]
if storage is None:
    sys.exit("the file holds no Storage storage")
for kind in ("PhysicalDevices", "LogicalDevices"):
    if len(storage[kind]) != len(live_storage[kind]):
        sys.exit(f"{kind}: {len(storage[kind])} in the file, {len(live_storage[kind])} on the machine")
    for saved, live in zip(storage[kind], live_storage[kind]):
        for key in ("Drive", "Model", "SerialNumber", "Revision", "DeviceType", "Size"):
            if key in live and saved.get(key) != live[key]:
                sys.exit(f"{kind} {key}: file {saved.get(key)!r}, machine {live[key]!r}")

# A file that is not a storage file is refused with a message, not loaded, and a save does not
# replace it unless told to.
with open("not-a-storage-file.txt", "w") as f:
    f.write("plain text\n")
out = subprocess.run(prog + ["show", "not-a-storage-file.txt"], capture_output=True, timeout=300)
if out.returncode == 0 or b"not a storage file" not in out.stderr:
    sys.exit(f"plain text file: rc {out.returncode}, {out.stderr!r}")
out = subprocess.run(prog + ["save", "not-a-storage-file.txt"], capture_output=True, timeout=300)
with open("not-a-storage-file.txt") as f:
    kept = f.read()
if out.returncode == 0 or b"not a storage file" not in out.stderr or kept != "plain text\n":
    sys.exit(f"save over a text file: rc {out.returncode}, {out.stderr!r}, file now {kept[:20]!r}")
run("save", "--force", "not-a-storage-file.txt")
if not json.loads(run("show", "not-a-storage-file.txt", "--json"))["CPU"]:
    sys.exit("save --force did not write a storage file")
os.remove("not-a-storage-file.txt")
os.remove(name)
print("ok:", shown["MachineName"], shown["OSName"], shown["CreationTimeText"], f"{len(cpus)} processors,",
      f"{len(storage['PhysicalDevices'])} physical and {len(storage['LogicalDevices'])} logical devices")
