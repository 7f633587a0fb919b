#!/usr/bin/python3
"""Runs `kyvex cpu --all --json` (optionally through a runner such as Wine) and compares every
processor with what the Linux kernel says of it in /proc/cpuinfo: vendor, family, model,
stepping, brand string, initial APIC ID (which shows that each processor really was the one
bound), feature flags and the clock. With the `cpuid` tool installed, the identification text
is also compared with its raw leaf 1.

The clock reference is the time-stamp counter's rate as the kernel calibrated it: the
tsc_freq_khz of sysfs where the kernel exports it, else bogomips / 2 (on x86 the delay loop is
calibrated on the time-stamp counter, two loops a cycle, so bogomips is twice its MHz). The
"cpu MHz" line is not used: on real hardware it is the current core clock, not the counter's.

Usage: check_cpu_live.py [runner ...] kyvex
"""
import json
import shutil
import subprocess
import sys

# Feature names of the component -> flag names of /proc/cpuinfo, by group.
FLAGS = {
    "Standard1": {
        "FPU": "fpu", "VME": "vme", "DE": "de", "PSE": "pse", "TSC": "tsc", "MSR": "msr", "PAE": "pae",
        "MCE": "mce", "CX8": "cx8", "APIC": "apic", "SEP": "sep", "MTRR": "mtrr", "PGE": "pge",
        "CMOV": "cmov", "PAT": "pat", "PSE36": "pse36", "PSN": "pn", "CLFSH": "clflush", "DS": "dts",
        "ACPI": "acpi", "MMX": "mmx", "FXSR": "fxsr", "SSE": "sse", "SSE2": "sse2", "SS": "ss",
        "HTT": "ht", "TM": "tm", "IA-64": "ia64", "SBF": "pbe",
    },
    "Standard2": {
        "SSE3": "pni", "MON": "monitor", "CPL": "ds_cpl", "VMX": "vmx", "EST": "est", "TM2": "tm2",
        "CID": "cid", "CX16": "cx16", "xTPR": "xtpr",
    },
    # The bits of leaf 0x80000001 EDX that repeat leaf 1's have no flags of their own.
    "Extended1": {
        "SEP": "syscall", "MP": "mp", "NX": "nx", "MMX+": "mmxext", "x64": "lm", "3DNOW+": "3dnowext",
        "3DNOW": "3dnow",
    },
    "Extended2": {"LSAHF": "lahf_lm", "CMPL": "cmp_legacy"},
}


def cpuinfo():
    procs, cur = [], {}
    for line in open("/proc/cpuinfo", encoding="utf-8", errors="replace"):
        if not line.strip():
            if cur:
                procs.append(cur)
            cur = {}
            continue
        key, _, value = line.partition(":")
        cur[key.strip()] = value.strip()
    if cur:
        procs.append(cur)
    return procs


def tsc_mhz(proc):
    try:
        return int(open("/sys/devices/system/cpu/cpu0/tsc_freq_khz").read()) / 1000.0, "tsc_freq_khz"
    except OSError:
        return float(proc["bogomips"]) / 2, "bogomips / 2"


def cpuid_leaf1():
    """Leaf 1 of every processor from `cpuid -r`, or None without the tool."""
    if not shutil.which("cpuid"):
        return None
    out = subprocess.run(["cpuid", "-r"], capture_output=True, text=True, timeout=60).stdout
    leaves = []
    for line in out.splitlines():
        parts = line.split()
        if len(parts) >= 6 and parts[0] == "0x00000001" and parts[1] == "0x00:":
            leaves.append({p.split("=")[0]: int(p.split("=")[1], 16) for p in parts[2:6]})
    return leaves


def main():
    cmd = sys.argv[1:] + ["cpu", "--all", "--json"]
    out = subprocess.run(cmd, capture_output=True, timeout=600)
    if out.returncode != 0:
        sys.exit(f"{cmd} failed ({out.returncode}): {out.stderr.decode(errors='replace')}")
    cpus = json.loads(out.stdout.decode("utf-8"))
    procs = cpuinfo()
    errors = []

    def check(what, got, want):
        if got != want:
            errors.append(f"{what}: kyvex {got!r}, kernel {want!r}")

    check("processor count", len(cpus), min(len(procs), 255))
    leaf1 = cpuid_leaf1()
    for i, (cpu, proc) in enumerate(zip(cpus, procs)):
        p = f"processor {i}"
        check(f"{p} CPUIndex", cpu["CPUIndex"], i)
        check(f"{p} vendor", cpu["VendorID"], proc["vendor_id"])
        check(f"{p} family", cpu["DisplayFamily"], int(proc["cpu family"]))
        check(f"{p} model", cpu["DisplayModel"], int(proc["model"]))
        check(f"{p} stepping", cpu["Stepping"], int(proc["stepping"]))
        check(f"{p} brand string", cpu["MarketingName"].strip(), proc["model name"].strip())
        if cpu["APICID"] != 255 and "initial apicid" in proc and int(proc["initial apicid"]) < 255:
            check(f"{p} initial APIC ID", cpu["APICID"], int(proc["initial apicid"]))
        flags = set(proc.get("flags", "").split())
        for group, names in FLAGS.items():
            available = {f["Name"]: f["Available"] for f in cpu["Features"][group]}
            if not available:
                continue
            for name, flag in names.items():
                check(f"{p} {group}.{name} ({flag})", available.get(name), flag in flags)
        power = {f["Name"]: f["Available"] for f in cpu["Features"]["PowerManagement"]}
        if power.get("ITSC") and "nonstop_tsc" not in flags:
            errors.append(f"{p}: invariant TSC without the kernel's nonstop_tsc")
        if leaf1 and i < len(leaf1):
            r = leaf1[i]
            want = "-".join(f"{v >> 16:04X}-{v & 0xFFFF:04X}" for v in (r["eax"], r["edx"], r["ecx"]))
            check(f"{p} identification (cpuid tool)", cpu["SerialNumber"], want)
        ref, source = tsc_mhz(proc)
        if abs(cpu["Frequency"] - ref) > 0.02 * ref:
            errors.append(f"{p} clock: kyvex {cpu['Frequency']} MHz, {source} {ref:.1f} MHz (more than 2% apart)")

    if errors:
        sys.exit("\n".join(errors))
    first = cpus[0]
    print(f"ok: {len(cpus)} processors, {first['VendorID']} family {first['DisplayFamily']} model "
          f"{first['DisplayModel']} stepping {first['Stepping']}, {first['MarketingName']!r}, "
          f"{first['Frequency']} MHz (reference {tsc_mhz(procs[0])[0]:.1f})"
          + ("" if leaf1 else "; cpuid tool not installed"))


main()
