#!/usr/bin/python3
"""Runs `kyvex report --json` (optionally through a runner such as Wine) and checks that it is
valid JSON with the system summary's keys and sensible values."""
import json
import subprocess
import sys

cmd = sys.argv[1:] + ["report", "--json"]
out = subprocess.run(cmd, capture_output=True, timeout=300)
if out.returncode != 0:
    sys.exit(f"{cmd} failed ({out.returncode}): {out.stderr.decode(errors='replace')}")
report = json.loads(out.stdout.decode("utf-8"))
system = report["System"]
expected = {"OSName": str, "Edition": str, "OSKind": int, "Platform": int, "MajorVersion": int,
            "MinorVersion": int, "BuildNumber": int, "CSDVersion": str, "ProductType": int, "Suites": int,
            "MachineName": str, "Account": str, "LoggedUser": str, "AccountType": str, "VMWare": bool,
            "VPC": bool}
for key, kind in expected.items():
    if not isinstance(system.get(key), kind):
        sys.exit(f"System.{key}: expected {kind.__name__}, got {system.get(key)!r}")
if not system["OSName"]:
    sys.exit("empty OSName")
if system["AccountType"] not in ("Admin", "NON-Admin"):
    sys.exit(f"AccountType {system['AccountType']!r}")
if system["MachineName"] != system["MachineName"].upper():
    sys.exit("machine name not upper case")
print("ok:", system["OSName"], system["MachineName"])
