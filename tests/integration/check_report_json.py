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
            "VPC": bool, "HypervisorPresent": bool, "HypervisorSignature": str, "Hypervisor": str,
            "HypervisorLeaf": int}
for key, kind in expected.items():
    if not isinstance(system.get(key), kind):
        sys.exit(f"System.{key}: expected {kind.__name__}, got {system.get(key)!r}")
if not system["OSName"]:
    sys.exit("empty OSName")
if system["AccountType"] not in ("Admin", "NON-Admin"):
    sys.exit(f"AccountType {system['AccountType']!r}")
if system["MachineName"] != system["MachineName"].upper():
    sys.exit("machine name not upper case")
# The kernel shows leaf 1 ECX bit 31 as the "hypervisor" flag (also to the Windows build under Wine,
# on the same processor).
try:
    flags = next((line.split(":", 1)[1].split() for line in open("/proc/cpuinfo", encoding="utf-8", errors="replace")
                  if line.startswith("flags")), None)
except OSError:
    flags = None
if flags is not None and system["HypervisorPresent"] != ("hypervisor" in flags):
    sys.exit(f"HypervisorPresent {system['HypervisorPresent']}, the kernel's flags say {'hypervisor' in flags}")
if not system["HypervisorPresent"] and (system["Hypervisor"] or system["HypervisorSignature"]):
    sys.exit(f"no hypervisor bit, yet Hypervisor {system['Hypervisor']!r} ({system['HypervisorSignature']!r})")
print("ok:", system["OSName"], system["MachineName"], system["Hypervisor"] or "no named hypervisor")
