#!/usr/bin/python3
"""The short forms `cpu|smbios|storage [--json] [--FILE-OPTION FILE]` are read without the full
command-line parser: each must print, say and answer exactly what the parser's own reading of the
same request does (`--option=FILE`, which only the parser takes), and anything beyond the short
form must still reach the parser. `--version` alone is read the same way. Arguments: [RUNNER] PROGRAM DATA-FOLDER (the data folder as the
program sees it)."""
import subprocess
import sys

*prog, data = sys.argv[1:]
errors = []


def run(*args):
    # Under Wine, a program started just as the Wine server winds down can lose its connection
    # before it runs ("wine client error"). Nothing of the program's own has happened then, and
    # these commands only read, so it is started again.
    for _ in range(3):
        out = subprocess.run(prog + list(args), capture_output=True, timeout=300)
        if not out.stderr.startswith(b"wine client error"):
            break
    return out.returncode, out.stdout, out.stderr


files = {
    "cpu": ("--cpuid-dump", f"{data}/cpu/GenuineIntel00806F8_SapphireRapids_05_CPUID.txt"),
    "smbios": ("--dump-bin", f"{data}/smbios/dell-precision-3620.bin"),
    "storage": ("--identify", f"{data}/storage/WDC_WD5000AAKS-00TMA0.hdparm.txt"),
}
for command, (option, file) in files.items():
    missing = f"{data}/no-such-file"
    pairs = [
        ([command, option, file], [command, f"{option}={file}"]),
        ([command, "--json", option, file], [command, f"{option}={file}", "--json"]),
        ([command, option, file, "--json"], [command, "--json", f"{option}={file}"]),
        ([command, option, missing], [command, f"{option}={missing}"]),
    ]
    for short, parsed in pairs:
        a, b = run(*short), run(*parsed)
        if a != b:
            errors.append(f"{' '.join(short)}: rc {a[0]}, {len(a[1])} bytes out, stderr {a[2][:200]!r}; "
                          f"{' '.join(parsed)}: rc {b[0]}, {len(b[1])} bytes out, stderr {b[2][:200]!r}")
    if run(command, option, file)[0] != 0:
        errors.append(f"{command} {option} FILE failed")
    # Beyond the short form: the parser answers, and none of these decodes anything.
    for args, said in [([command, option, file, "--bogus"], b"--bogus"),
                       ([command, option], option.encode()),
                       ([command, option, "--json"], b""),
                       ([command, option, file, option, file], b"")]:
        rc, out, err = run(*args)
        if rc == 0 or said not in err:
            errors.append(f"{' '.join(args)}: rc {rc}, stderr {err[:200]!r}; expected a refusal naming {said!r}")

# --version alone is answered directly; with another option before it, by the parser.
a, b = run("--version"), run("--sysroot", f"{data}/no-such-capture", "--version")
if a != b or a[0] != 0 or not a[1].startswith(b"kyvex "):
    errors.append(f"--version: {a!r}; through the parser: {b!r}")

if errors:
    sys.exit("\n".join(errors))
print("ok")
