#!/usr/bin/python3
"""`kyvex save FILE` then `kyvex show FILE --json` (optionally through a runner such as Wine):
the header read back describes the machine that `kyvex report --json` describes."""
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


run("save", name)
shown = json.loads(run("show", name, "--json"))["StorageInfo"]
system = json.loads(run("report", "--json"))["System"]
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

# A file that is not a storage file is refused with a message, not loaded.
with open("not-a-storage-file.txt", "w") as f:
    f.write("plain text\n")
out = subprocess.run(prog + ["show", "not-a-storage-file.txt"], capture_output=True, timeout=300)
if out.returncode == 0 or b"not a storage file" not in out.stderr:
    sys.exit(f"plain text file: rc {out.returncode}, {out.stderr!r}")
os.remove(name)
print("ok:", shown["MachineName"], shown["OSName"], shown["CreationTimeText"])
