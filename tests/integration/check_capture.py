#!/usr/bin/python3
"""`kyvex capture` and `kyvex --sysroot`: this machine captured and shown again gives the report
the capture recorded (text and JSON), from its folder and from its archive; the recorded
machines of tests/data give theirs; every command answers from a capture; a capture with a
link leading out fails with its name."""
import json
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile

prog = sys.argv[1:]
data = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "capture")
errors = []


def expect(what, ok, detail=""):
    if not ok:
        errors.append(f"{what}: {detail}")


def run(*args, env=None):
    return subprocess.run(prog + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300, env=env)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def shows_its_report(what, folder):
    for args, name in ((["report"], "report.txt"), (["report", "--json"], "report.json")):
        out = run("--sysroot", folder, *args)
        expect(f"{what}: {' '.join(args)} exit code", out.returncode == 0, out.stderr.decode(errors="replace"))
        expect(f"{what}: {' '.join(args)} is the captured one", out.stdout == read(os.path.join(folder, name)),
               "the output differs from " + name)


with tempfile.TemporaryDirectory() as tmp:
    here = os.path.join(tmp, "here")
    archive = os.path.join(tmp, "here.tar.gz")
    # A temporary folder of the test's own: unpacking leaves nothing in it.
    scratch = os.path.join(tmp, "scratch")
    os.mkdir(scratch)
    env = dict(os.environ, TMPDIR=scratch)
    out = run("capture", "--mask-serials", here, "--archive", archive, env=env)
    expect("capture: exit code", out.returncode == 0, out.stderr.decode(errors="replace"))
    if out.returncode == 0:
        for name in ("README", "machine.txt", "cpuid.txt", "clocks.txt", "devices.txt", "report.txt", "report.json"):
            expect(f"capture: {name}", os.path.isfile(os.path.join(here, name)), "missing")
        shows_its_report("this machine", here)
        again = run("capture", here)
        expect("capture into a folder that is not empty", again.returncode != 0 and b"not empty" in again.stderr,
               repr(again.stderr))
        with tarfile.open(archive) as t:
            names = t.getnames()
            expect("archive: one folder named after it", all(n == "here" or n.startswith("here/") for n in names),
                   repr(names[:5]))
            expect("archive: the folder's report", t.extractfile("here/report.txt").read() == read(os.path.join(here, "report.txt")))
        for args, name in ((["report"], "report.txt"), (["report", "--json"], "report.json")):
            shown = run("--sysroot", archive, *args, env=env)
            expect(f"archive: {' '.join(args)}", shown.returncode == 0 and shown.stdout == read(os.path.join(here, name)),
                   shown.stderr.decode(errors="replace"))
        expect("archive: nothing left in the temporary folder", os.listdir(scratch) == [], repr(os.listdir(scratch)))
        again = run("capture", "--archive", archive)
        expect("capture into an archive that exists", again.returncode == 1 and b"exists" in again.stderr,
               repr(again.stderr))
    # Without a folder: the archive alone, and nothing left behind where it was made.
    only = os.path.join(tmp, "only.tgz")
    out = run("capture", "--archive", only, env=env)
    expect("capture --archive alone: exit code", out.returncode == 0, out.stderr.decode(errors="replace"))
    if out.returncode == 0:
        with tarfile.open(only) as t:
            recorded = t.extractfile("only/report.txt").read()
        shown = run("--sysroot", only, "report", env=env)
        expect("capture --archive alone: shown", shown.returncode == 0 and shown.stdout == recorded,
               shown.stderr.decode(errors="replace"))
        expect("capture --archive alone: nothing left in the temporary folder", os.listdir(scratch) == [],
               repr(os.listdir(scratch)))
    out = run("capture")
    expect("capture with neither folder nor archive", out.returncode != 0 and b"--archive" in out.stderr, repr(out.stderr))

    for name in sorted(os.listdir(data)):
        shows_its_report(name, os.path.join(data, name))

    vm = os.path.join(data, "vm")
    for args in (["cpu", "--all"], ["smbios"], ["storage", "--json"]):
        out = run("--sysroot", vm, *args)
        expect(f"--sysroot {' '.join(args)}", out.returncode == 0 and out.stdout, out.stderr.decode(errors="replace"))
    stored = os.path.join(tmp, "vm.kyx")
    out = run("--sysroot", vm, "save", stored)
    expect("--sysroot save", out.returncode == 0, out.stderr.decode(errors="replace"))
    shown = run("show", "--json", stored)
    if shown.returncode == 0:
        cpus = json.loads(shown.stdout)["CPU"]
        recorded = json.loads(read(os.path.join(vm, "report.json")))["CPU"]
        expect("the saved capture's processors", [c.get("CPUName") for c in cpus] == [c.get("CPUName") for c in recorded],
               "differ from the captured report's")
    else:
        expect("show the saved capture", False, shown.stderr.decode(errors="replace"))

    hostile = os.path.join(tmp, "hostile")
    shutil.copytree(vm, hostile, symlinks=True)
    target = os.path.join(hostile, "fs", "proc", "sys", "kernel", "osrelease")
    os.remove(target)
    os.symlink("/etc/hostname", target)
    out = run("--sysroot", hostile, "report")
    expect("a link leading out: exit code", out.returncode == 1, f"got {out.returncode}")
    expect("a link leading out: named", b"osrelease: leads out" in out.stderr, repr(out.stderr))
    out = run("--sysroot", os.path.join(tmp, "nothing"), "report")
    expect("no capture there", out.returncode == 1 and b"no such folder" in out.stderr, repr(out.stderr))

for e in errors:
    print(e)
sys.exit(1 if errors else 0)
