#!/usr/bin/python3
"""`kyvex show` of a storage file with one damaged part (optionally through a runner such as
Wine): the part is named with the file in an error, the exit status is not 0, and what could
be read is still shown, marked as incomplete.

Usage: check_show_damaged.py [runner ...] kyvex
"""
import json
import os
import subprocess
import sys

import olefile

prog = sys.argv[1:]
name = "damaged-by-test.kyx"  # relative: the same file for a Linux and a Windows program


def run(*args, check=True):
    out = subprocess.run(prog + list(args), capture_output=True, timeout=300)
    if check and out.returncode != 0:
        sys.exit(f"{args} failed ({out.returncode}): {out.stderr.decode(errors='replace')}")
    return out


def damage(stream):
    """Overwrites one property set of the file with bytes of the same length."""
    ole = olefile.OleFileIO(name, write_mode=True)
    data = ole.openstream(stream).read()
    ole.write_stream(stream, b"\xAB" * len(data))
    ole.close()


failures = []
for part, stream in (("storage devices", ["Storage", "PhysicalDevices", "0", "\x05DocumentSummaryInformation"]),
                     ("processor 0", ["CPU", "0", "\x05DocumentSummaryInformation"])):
    if os.path.exists(name):
        os.remove(name)
    run("save", name)
    ole = olefile.OleFileIO(name)
    present = ole.exists("/".join(stream))
    ole.close()
    if not present:
        print(f"{part}: this machine's save has no {'/'.join(stream[:-1])} to damage; not checked")
        continue
    damage(stream)
    element = "/".join(stream[:-1])
    text = run("show", name, check=False)
    err = text.stderr.decode(errors="replace")
    if text.returncode == 0:
        failures.append(f"{part}: show exits 0 for a damaged file")
    if name not in err or element not in err:
        failures.append(f"{part}: the error does not name the file and {element}: {err!r}")
    if b"Incomplete" not in text.stdout or b"Storage file" not in text.stdout:
        failures.append(f"{part}: the text does not show what could be read, marked incomplete")
    js = run("show", name, "--json", check=False)
    shown = json.loads(js.stdout.decode("utf-8"))
    if js.returncode == 0 or shown.get("Complete") is not False or not shown.get("Errors"):
        failures.append(f"{part}: the JSON does not say the file is incomplete ({js.returncode})")
    if not shown["StorageInfo"]["MachineName"]:
        failures.append(f"{part}: the header, which is not damaged, was not shown")

if failures:
    sys.exit("\n".join(failures))
print("ok: damaged parts are named, shown as incomplete, and make the exit status 1")
