#!/usr/bin/env python3
"""Decodes recorded SMBIOS dumps with `kyvex smbios --dump-bin --json` and with
`dmidecode --from-dump`, and compares what both read: memory sizes, speeds, types and form
factors, processor core and thread counts, cache sizes, slot types and the BIOS ROM size.

Usage: check_against_dmidecode.py KYVEX DUMP...
Skips (exit 77) where dmidecode is not installed."""
import json
import re
import shutil
import subprocess
import sys

UNITS = {"bytes": 1 / 1024, "kB": 1, "KB": 1, "MB": 1024, "GB": 1024 ** 2, "TB": 1024 ** 3}


def kilobytes(text):
    m = re.match(r"(\d+) (bytes|kB|KB|MB|GB|TB)$", text)
    return int(int(m.group(1)) * UNITS[m.group(2)]) if m else None


def normalized(slot_type):
    """A slot type's name without the spellings in which the standard's names and dmidecode's
    differ ("PCI Express Gen 3" / "PCI Express 3", "AGP 4X" / "AGP 4x",
    "PCI - 66MHz Capable" / "PCI-66")."""
    text = slot_type.lower().replace("gen ", "").replace("mhz capable", "")
    return re.sub(r"[\s-]", "", text)


def records(dump, type_):
    """dmidecode's records of one structure type, each a dict of its 'Key: value' lines."""
    out = subprocess.run(["dmidecode", "--from-dump", dump, "-t", str(type_)], capture_output=True,
                         text=True, errors="replace", check=True).stdout
    result = []
    for block in out.split("\nHandle ")[1:]:
        # Structures that dmidecode shows only as inactive or out-of-spec hold no values.
        fields = {}
        for line in block.splitlines()[1:]:
            m = re.match(r"\t([^\t:][^:]*): (.*)$", line)
            if m:
                fields[m.group(1)] = m.group(2)
        if fields:
            result.append(fields)
    return result


compared = 0


def compare(dump, ours, problems):
    def check(what, expected, got):
        global compared
        compared += 1
        if expected != got:
            problems.append(f"{dump}: {what}: dmidecode {expected!r}, kyvex {got!r}")

    bios = records(dump, 0)
    if bios and "ROM Size" in bios[0]:
        expected = kilobytes(bios[0]["ROM Size"])
        # An extended size of 0 (firmware that sets byte 09h to FFh and forgets the word) is
        # shown as the older byte says; dmidecode prints the 0.
        if expected or ours["BIOSExtendedSize"]:
            size = ours["BIOSExtendedSize"] * 1024 or ours["BIOSSize"]
            check("BIOS ROM size (KB)", expected, size)

    memory = [r for r in records(dump, 17)]
    check("memory device count", len(memory), len(ours["MemoryDeviceList"]))
    for i, (d, k) in enumerate(zip(memory, ours["MemoryDeviceList"])):
        size = d.get("Size", "")
        expected = 0 if size in ("No Module Installed", "Unknown", "Not Installed") else kilobytes(size)
        if expected is not None:
            expected //= 1024
            got = k["ExtendedSize"] or (0 if k["Size"] in (0, 0xFFFF) else k["Size"])
            check(f"memory {i} size (MB)", expected, got)
        for key, field in (("Speed", "SpeedMTs"), ("Configured Memory Speed", "ConfiguredSpeedMTs")):
            if key not in d:
                continue
            m = re.match(r"(\d+) MT/s", d[key])
            check(f"memory {i} {key}", int(m.group(1)) if m else 0, k[field])
        if "Type" in d:
            check(f"memory {i} type", d["Type"], k["DeviceText"])
        if "Form Factor" in d:
            check(f"memory {i} form factor", d["Form Factor"], k["FormFactorText"])

    processors = records(dump, 4)
    check("processor count", len(processors), len(ours["ProcessorList"]))
    for i, (d, k) in enumerate(zip(processors, ours["ProcessorList"])):
        for key, byte, word in (("Core Count", "CoreCount", "CoreCount2"),
                                ("Core Enabled", "CoreEnabled", "CoreEnabled2"),
                                ("Thread Count", "ThreadCount", "ThreadCount2")):
            if key in d and d[key].isdigit():
                got = k[word] if k[byte] == 0xFF and k[word] else k[byte]
                check(f"processor {i} {key}", int(d[key]), got)

    caches = records(dump, 7)
    check("cache count", len(caches), len(ours["CacheList"]))
    for i, (d, k) in enumerate(zip(caches, ours["CacheList"])):
        for key, small, large in (("Installed Size", "InstalledSize", "InstalledSize2"),
                                  ("Maximum Size", "MaxSize", "MaxSize2")):
            if key in d and kilobytes(d[key]) is not None:
                # Where firmware leaves the 32-bit size 0 beside a 16-bit one, the 16-bit one
                # is shown; dmidecode takes the 0.
                if kilobytes(d[key]) == 0 and k[large] == 0:
                    continue
                check(f"cache {i} {key} (KB)", kilobytes(d[key]), k[large] or k[small])

    slots = records(dump, 9)
    check("slot count", len(slots), len(ours["SystemSlotList"]))
    for i, (d, k) in enumerate(zip(slots, ours["SystemSlotList"])):
        # dmidecode puts the bus width before the type and shortens some of the standard's
        # names ("M.2 Socket 1-DP" for "M.2 Socket 1-DP (Mechanical Key A)").
        name = re.sub(r"^(x\d+|\d+-bit|Other|Unknown) (?=.)", "", d.get("Type", ""))
        if not normalized(k["SlotTypeText"]).startswith(normalized(name)):
            problems.append(f"{dump}: slot {i} type: dmidecode {d.get('Type')!r}, kyvex {k['SlotTypeText']!r}")


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    if not shutil.which("dmidecode"):
        print("skipped: dmidecode is not installed")
        return 77
    kyvex, dumps = sys.argv[1], sys.argv[2:]
    problems = []
    for dump in dumps:
        out = subprocess.run([kyvex, "smbios", "--json", "--dump-bin", dump], capture_output=True, text=True)
        if out.returncode != 0:
            problems.append(f"{dump}: kyvex failed: {out.stderr.strip()}")
            continue
        compare(dump, json.loads(out.stdout), problems)
    for p in problems:
        print(p)
    print(f"{len(dumps)} dumps, {compared} values compared, {len(problems)} differences")
    # A run that compared nothing (dmidecode printing another format) proves nothing.
    return 1 if problems or compared == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
