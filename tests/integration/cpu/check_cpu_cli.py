#!/usr/bin/python3
"""The `kyvex cpu` command on recorded processors (raw dumps of the cpuid tool) and on bad
input, and `kyvex report` listing every processor.

Usage: check_cpu_cli.py [--fewer] DATA_DIR [runner ...] kyvex
DATA_DIR is tests/data/cpu as the program sees it (Z:/... under Wine). --fewer leaves out the
cases that only exercise the command-line parser, the same on every build (each start of a
program under Wine costs seconds).
"""
import json
import subprocess
import sys

args = sys.argv[1:]
fewer = args[:1] == ["--fewer"]
if fewer:
    args = args[1:]
data = args[0].rstrip("/")
kyvex = args[1:]
errors = []


def run(*args):
    out = subprocess.run(kyvex + list(args), capture_output=True, timeout=600)
    return out.returncode, out.stdout.decode("utf-8"), out.stderr.decode("utf-8", errors="replace")


def expect(what, ok, detail=""):
    if not ok:
        errors.append(f"{what} {detail}".rstrip())


def lines_of(text):
    """The "Label: value" lines of the text output, by label (first occurrence)."""
    result = {}
    for line in text.splitlines():
        label, sep, value = line.strip().partition(":")
        if sep and label not in result:
            result[label] = value.strip()
    return result


# A recorded Pentium 4, as text: names from the tables, the clock as given.
rc, out, err = run("cpu", "--cpuid-dump", f"{data}/GenuineIntel0000F29_P4_Northwood_CPUID.txt", "--frequency", "2800")
shown = lines_of(out)
expect("northwood exit code", rc == 0, err)
for label, value in {"Name": "Pentium 4", "Code name": "Northwood", "Revision": "D1", "Clock": "2800 MHz",
                     "Brand string": "Intel(R) Pentium(R) 4 CPU 2.80GHz",
                     "Level 2": "512 KB, 8-Way, 64-byte lines", "Trace": "12 K micro-ops, 8-Way"}.items():
    expect(f"northwood {label}", shown.get(label) == value, f"got {shown.get(label)!r}")

# A processor the tables do not describe: the brand string stands where the name would.
rc, out, err = run("cpu", "--cpuid-dump", f"{data}/GenuineIntel00206A7_SandyBridge_CPUID.txt")
shown = lines_of(out)
expect("sandy bridge exit code", rc == 0, err)
expect("sandy bridge name", shown.get("Name") == "Core", repr(shown.get("Name")))
expect("sandy bridge clock without --frequency", shown.get("Clock") == "unknown", repr(shown.get("Clock")))
rc, out, err = run("cpu", "--json", "--cpuid-dump", f"{data}/GenuineIntel00206A7_SandyBridge_CPUID.txt")
cpu = json.loads(out)
expect("sandy bridge JSON names", (cpu["CPUName"], cpu["CodeName"], cpu["Technology"]) == ("Core", "Sandy Bridge", "32 nm"), repr(cpu["CPUName"]))
expect("sandy bridge JSON model", (cpu["Model"], cpu["DisplayModel"]) == (10, 42))
# Its leaf 2 only points to leaf 4: the caches come from there, with their sharing.
level3 = cpu["Cache"]["Level3"]
expect("sandy bridge JSON level 3", (level3["Size"], level3["LineSize"], level3["Associativity"]["Name"]) == (6144, 64, "ca12Way"),
       repr(level3))
listed = [(c["Level"], c["Type"], c["Size"], c["Ways"], c["LineSize"], c["SharedBy"]) for c in cpu.get("CacheList") or []]
expect("sandy bridge JSON cache list", listed == [(1, "Data", 32, 8, 64, 2), (1, "Code", 32, 8, 64, 2),
                                                  (2, "Unified", 256, 8, 64, 2), (3, "Unified", 6144, 12, 64, 16)],
       repr(listed))

# A guest of the bhyve hypervisor, recorded on one of our build machines.
rc, out, err = run("cpu", "--json", "--cpuid-dump", f"{data}/AuthenticAMD0B00F21_Turin_bhyve_CPUID.txt")
expect("bhyve exit code", rc == 0, err)
if rc == 0:
    cpu = json.loads(out)
    expect("bhyve JSON", (cpu["HypervisorPresent"], cpu["HypervisorSignature"], cpu["Hypervisor"]) == (True, "bhyve bhyve ", "bhyve"),
           repr((cpu.get("HypervisorPresent"), cpu.get("HypervisorSignature"), cpu.get("Hypervisor"))))

# The all-processors form: every processor, or the one asked for.
epyc = f"{data}/AuthenticAMD0A10F11_EPYC_2cpus_CPUID.txt"
rc, out, err = run("cpu", "--json", "--all", "--cpuid-dump", epyc, "--frequency", "2596")
cpus = json.loads(out)
expect("all processors", [c["CPUIndex"] for c in cpus] == [0, 1] and [c["APICID"] for c in cpus] == [0, 1])
expect("all processors clock", all(c["Frequency"] == 2600 for c in cpus), repr([c["Frequency"] for c in cpus]))
if not fewer:
    rc, out, err = run("cpu", "--json", "--index", "1", "--cpuid-dump", epyc)
    cpu = json.loads(out)
    expect("--index 1", cpu["CPUIndex"] == 1 and cpu["APICID"] == 1 and cpu["Vendor"]["Name"] == "cvAmd")
rc, out, err = run("cpu", "--all", "--cpuid-dump", epyc) if not fewer else (0, "Processor 0\nProcessor 1", "")
expect("--all text", [l for l in out.splitlines() if l.startswith("Processor ")] == ["Processor 0", "Processor 1"] and rc == 0, out[:200])

# Bytes that are not UTF-8 and a control character in the brand string.
odd = f"{data}/odd_brand_string_CPUID.txt"
rc, out, err = run("cpu", "--json", "--cpuid-dump", odd)
expect("odd brand exit code", rc == 0, err)
if rc == 0:
    # The byte that is not UTF-8 is read as Windows-1252, the control character shown escaped.
    expect("odd brand kept in JSON", json.loads(out)["MarketingName"] == "Intel\u00ae Pentium\\x01 4 CPU 3.00GHz",
           repr(json.loads(out)["MarketingName"]))
rc, out, err = run("cpu", "--cpuid-dump", odd)
expect("odd brand text", lines_of(out).get("Brand string") == "Intel\u00ae Pentium\\x01 4 CPU 3.00GHz",
       repr(lines_of(out).get("Brand string")))

# Bad input: a clear message and a failing exit code, never a crash.
parser_only = {"--frequency without a dump", "--frequency 0", "--index 256", "--index with --all", "folder as dump",
               "not a dump"}
for what, args, message in [
        ("missing dump", ["--cpuid-dump", f"{data}/no-such-dump.txt"], "no such file"),
        ("folder as dump", ["--cpuid-dump", data], "is a folder"),
        ("not a dump", ["--cpuid-dump", f"{data}/../../integration/cpu.cmake"], "no CPUID register lines"),
        ("index beyond the dump", ["--index", "2", "--cpuid-dump", epyc], "the dump holds 2 logical processors"),
        ("--frequency without a dump", ["--frequency", "800"], "--cpuid-dump"),
        ("--frequency 0", ["--frequency", "0", "--cpuid-dump", epyc], "--frequency"),
        ("--index 256", ["--index", "256"], "--index"),
        ("--index with --all", ["--index", "1", "--all"], "--all"),
]:
    if fewer and what in parser_only:
        continue
    rc, out, err = run("cpu", *args)
    expect(f"{what}: exit code", rc != 0, f"got {rc}")
    expect(f"{what}: message", message in err, repr(err))

# The full report lists every processor of this machine.
rc, out, err = run("report", "--json")
expect("report exit code", rc == 0, err)
if rc == 0:
    listed = json.loads(out).get("CPU", [])
    count = listed[0]["LogicalProcessorCount"] if listed else 0
    expect("report processors", count > 0 and [c["CPUIndex"] for c in listed] == list(range(count)),
           repr([c.get("CPUIndex") for c in listed]))

if errors:
    sys.exit("\n".join(errors))
print("ok")
