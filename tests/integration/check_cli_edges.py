#!/usr/bin/python3
"""Where the output and the files of `kyvex` are not what they seem: output that cannot be
written fails the command, and save and show refuse what is not a regular file (a device, a
pipe, a folder), --force or not."""
import os
import subprocess
import sys
import tempfile

prog = sys.argv[1:]
data = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")
dump = os.path.join(data, "cpu", "GenuineIntel00806F8_SapphireRapids_05_CPUID.txt")
stored = os.path.join(data, "layout", "machine.kyx")
errors = []


def expect(what, ok, detail=""):
    if not ok:
        errors.append(f"{what}: {detail}")


def run(*args, stdout=subprocess.PIPE, stdin=None):
    return subprocess.run(prog + list(args), stdout=stdout, stderr=subprocess.PIPE, stdin=stdin, timeout=300)


# A full device: the whole output cannot be written.
if os.path.exists("/dev/full"):
    with open("/dev/full", "w") as full:
        out = run("cpu", "--cpuid-dump", dump, stdout=full)
    expect("output to a full device: exit code", out.returncode != 0, f"got {out.returncode}")
    expect("output to a full device: message", b"could not be written" in out.stderr, repr(out.stderr))

cases = [("save onto a device", ["save", os.devnull]),
         ("save --force onto a device", ["save", "--force", os.devnull])]
with tempfile.TemporaryDirectory() as folder:
    cases += [("save onto a folder", ["save", "--force", folder]), ("show a folder", ["show", folder])]
    fifo = os.path.join(folder, "pipe")
    os.mkfifo(fifo)
    cases.append(("show a pipe", ["show", fifo]))
    for what, args in cases:
        out = run(*args)
        expect(f"{what}: exit code", out.returncode != 0, f"got {out.returncode}")
        expect(f"{what}: message", b"not a file" in out.stderr or b"storage file is needed" in out.stderr,
               repr(out.stderr))
    expect("the device is still a device", not os.path.isfile(os.devnull))

# A regular storage file is still shown.
out = run("show", stored)
expect("show a storage file", out.returncode == 0, repr(out.stderr))

if errors:
    sys.exit("\n".join(errors))
print("ok")
