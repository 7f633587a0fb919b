#!/usr/bin/python3
"""Runs `kyvex cpu --all --json` (optionally through a runner such as Wine) and compares every
processor with an independent reading of the same instruction, made by the cpuid tool
(`cpuid -r`) right before and right after: vendor, signature, brand string, initial APIC ID,
the identification text, every feature bit and the hypervisor's signature. The clock is
compared with the time-stamp counter's rate as the kernel calibrated it.

The kernel's /proc/cpuinfo is not the reference for what CPUID says: it is the view of boot
time. A virtual machine restored on another host answers CPUID for the new host while the
kernel still describes the old one, and some hypervisors pass the host's APIC IDs through
in leaf 1, where the kernel shows its own numbering.

A value that differs between the two readings of the cpuid tool (a virtual processor moved
to another host processor meanwhile) is read again; when it keeps moving, it is left out
and the output says so.

The clock reference is tsc_freq_khz of sysfs where the kernel exports it, else bogomips / 2
(on x86 the delay loop is calibrated on the time-stamp counter, two loops a cycle).

Exit 77 (skipped) without the cpuid tool or on a processor without CPUID leaves to compare.
Usage: check_cpu_live.py [runner ...] kyvex
"""
import json
import shutil
import subprocess
import sys

# The register each feature group of the component comes from.
GROUPS = {
    "Standard1": (0x00000001, "edx"),
    "Standard2": (0x00000001, "ecx"),
    "Extended1": (0x80000001, "edx"),
    "Extended2": (0x80000001, "ecx"),
    "PowerManagement": (0x80000007, "edx"),
}
ATTEMPTS = 3


def skip(why):
    print(f"skipped: {why}")
    sys.exit(77)


def cpuid_dump():
    """Every processor's leaves from `cpuid -r`: [{(leaf, subleaf): {reg: value}}]."""
    out = subprocess.run(["cpuid", "-r"], capture_output=True, text=True, timeout=120)
    if out.returncode != 0:
        skip(f"cpuid -r failed ({out.returncode}): {out.stderr.strip()}")
    procs = []
    for line in out.stdout.splitlines():
        if line.startswith("CPU"):
            procs.append({})
            continue
        parts = line.split()
        if len(parts) == 6 and parts[0].startswith("0x") and parts[1].endswith(":") and procs:
            regs = {p.split("=")[0]: int(p.split("=")[1], 16) for p in parts[2:]}
            procs[-1][(int(parts[0], 16), int(parts[1][:-1], 16))] = regs
    return procs


def facts(leaves):
    """What the component must agree with, from one processor's raw leaves."""
    f = {}
    l0, l1 = leaves.get((0, 0)), leaves.get((1, 0))
    if not l0 or not l1:
        return f
    f["VendorID"] = b"".join(l0[r].to_bytes(4, "little") for r in ("ebx", "edx", "ecx")).decode("latin-1")
    eax = l1["eax"]
    family, model, stepping = (eax >> 8) & 0xF, (eax >> 4) & 0xF, eax & 0xF
    ext_family, ext_model = (eax >> 20) & 0xFF, (eax >> 16) & 0xF
    f["Stepping"] = stepping
    f["DisplayFamily"] = family + ext_family if family == 0xF else family
    f["DisplayModel"] = (ext_model << 4) + model if family in (0x6, 0xF) else model
    f["SerialNumber"] = "-".join(f"{v >> 16:04X}-{v & 0xFFFF:04X}" for v in (l1["eax"], l1["edx"], l1["ecx"]))
    f["APICID"] = l1["ebx"] >> 24
    # Hypervisors set leaf 1 ECX bit 31 and sign leaf 0x40000000 (compared without the blanks
    # around it, as every text here).
    f["HypervisorPresent"] = (l1["ecx"] >> 31) & 1 == 1
    if f["HypervisorPresent"] and (0x40000000, 0) in leaves:
        h = leaves[(0x40000000, 0)]
        raw = b"".join(h[r].to_bytes(4, "little") for r in ("ebx", "ecx", "edx"))
        f["HypervisorSignature"] = raw.rstrip(b"\0").decode("latin-1").strip()
    top_ext = leaves.get((0x80000000, 0), {}).get("eax", 0)
    if top_ext >= 0x80000004:
        raw = b"".join(leaves[(leaf, 0)][r].to_bytes(4, "little")
                       for leaf in (0x80000002, 0x80000003, 0x80000004) for r in ("eax", "ebx", "ecx", "edx"))
        f["MarketingName"] = raw.split(b"\0")[0].decode("latin-1").strip()
    for group, (leaf, reg) in GROUPS.items():
        if leaf >= 0x80000000 and top_ext < leaf:
            continue
        if (leaf, 0) in leaves:
            f["bits:" + group] = leaves[(leaf, 0)][reg]
    return f


def tsc_mhz():
    try:
        return int(open("/sys/devices/system/cpu/cpu0/tsc_freq_khz").read()) / 1000.0, "tsc_freq_khz"
    except OSError:
        pass
    for line in open("/proc/cpuinfo", encoding="utf-8", errors="replace"):
        if line.startswith("bogomips"):
            return float(line.split(":")[1]) / 2, "bogomips / 2"
    return None, "no reference"


def online_count():
    return sum(1 for line in open("/proc/cpuinfo", encoding="utf-8", errors="replace")
               if line.startswith("processor"))


def run_kyvex():
    cmd = sys.argv[1:] + ["cpu", "--all", "--json"]
    out = subprocess.run(cmd, capture_output=True, timeout=600)
    if out.returncode != 0:
        sys.exit(f"{cmd} failed ({out.returncode}): {out.stderr.decode(errors='replace')}")
    return json.loads(out.stdout.decode("utf-8"))


def compare(cpus, before, after):
    """(errors, fields left out because the independent readings moved)."""
    errors, moving = [], set()
    for i, cpu in enumerate(cpus):
        if i >= len(before) or i >= len(after):
            break
        b, a = facts(before[i]), facts(after[i])
        p = f"processor {i}"
        for key in sorted(set(b) | set(a)):
            if b.get(key) != a.get(key):
                moving.add(key)
                continue
            want = b[key]
            if key.startswith("bits:"):
                group = key[5:]
                for feature in cpu["Features"][group]:
                    bit = (want >> feature["Bit"]) & 1 == 1
                    if feature["Available"] != bit:
                        errors.append(f"{p} {group}.{feature['Name']} (bit {feature['Bit']}): "
                                      f"kyvex {feature['Available']}, cpuid tool {bit}")
                continue
            got = cpu[key].strip() if isinstance(cpu[key], str) else cpu[key]
            if key == "APICID" and got == 255 and want >= 255:
                continue
            if got != want:
                errors.append(f"{p} {key}: kyvex {got!r}, cpuid tool {want!r}")
    return errors, moving


def main():
    if not shutil.which("cpuid"):
        skip("the cpuid tool is not installed (Debian package cpuid); it is the independent reading")
    for attempt in range(ATTEMPTS):
        before = cpuid_dump()
        cpus = run_kyvex()
        after = cpuid_dump()
        if not before or not facts(before[0]):
            skip("the cpuid tool read no leaves 0 and 1 on this processor")
        errors, moving = compare(cpus, before, after)
        if errors or not moving:
            break
    errors = list(errors)

    want_count = min(online_count(), 255)
    if len(cpus) != want_count:
        errors.append(f"processor count: kyvex {len(cpus)}, kernel {want_count}")
    for i, cpu in enumerate(cpus):
        if cpu["CPUIndex"] != i:
            errors.append(f"processor {i}: CPUIndex {cpu['CPUIndex']}")
    ref, source = tsc_mhz()
    if ref:
        for i, cpu in enumerate(cpus):
            if abs(cpu["Frequency"] - ref) > 0.02 * ref:
                errors.append(f"processor {i} clock: kyvex {cpu['Frequency']} MHz, {source} {ref:.1f} MHz "
                              "(more than 2% apart)")

    if errors:
        sys.exit("\n".join(errors))
    first = cpus[0]
    note = ""
    if moving:
        note = ("; left out, changing between two readings of the cpuid tool on this machine: "
                + ", ".join(sorted(k.replace("bits:", "features ") for k in moving)))
    print(f"ok: {len(cpus)} processors, {first['VendorID']} family {first['DisplayFamily']} model "
          f"{first['DisplayModel']} stepping {first['Stepping']}, {first['MarketingName']!r}, "
          f"{first['Frequency']} MHz (reference {ref or 0:.1f}, {source}), agrees with the cpuid tool" + note)


main()
