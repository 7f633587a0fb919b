#!/usr/bin/python3
"""Where the output and the files of `kyvex` are not what they seem: output that cannot be
written fails the command, and save and show refuse what is not a regular file (a device, a
pipe, a folder), --force or not."""
import json
import os
import pwd
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

# Where a file cannot be read, the message says what the system said, for show and for save.
with tempfile.TemporaryDirectory() as folder:
    loop, dangling = os.path.join(folder, "loop"), os.path.join(folder, "dangling")
    os.symlink(os.path.join(folder, "loop2"), loop)
    os.symlink(loop, os.path.join(folder, "loop2"))
    os.symlink(os.path.join(folder, "nowhere.kyx"), dangling)
    said = [("a loop of symbolic links", loop, b"Too many levels of symbolic links"),
            ("a dangling symbolic link", dangling, b"No such file or directory"),
            ("a missing file", os.path.join(folder, "missing.kyx"), b"No such file or directory")]
    unreadable = os.path.join(folder, "unreadable.kyx")
    with open(stored, "rb") as src, open(unreadable, "wb") as dst:
        dst.write(src.read())
    os.chmod(unreadable, 0)
    if os.geteuid() == 0:
        print("skipped the unreadable file: root reads it anyway")
    else:
        said.append(("an unreadable file", unreadable, b"Permission denied"))
    for what, path, system in said:
        out = run("show", path)
        expect(f"show {what}: exit code", out.returncode != 0, f"got {out.returncode}")
        expect(f"show {what}: message", system in out.stderr and b"not a storage file" not in out.stderr,
               repr(out.stderr))
        if what == "a missing file":
            continue  # a save makes it
        out = run("save", path)
        expect(f"save {what}: exit code", out.returncode != 0, f"got {out.returncode}")
        expect(f"save {what}: message", system in out.stderr and b"keeps being replaced" not in out.stderr,
               repr(out.stderr))
    expect("the dangling link is still a link", os.path.islink(dangling) and not os.path.exists(dangling))

    # A file far larger than any machine's description, made in no time as a sparse file, is
    # refused by its size before it is read.
    sparse = os.path.join(folder, "sparse.kyx")
    with open(stored, "rb") as src, open(sparse, "wb") as dst:
        dst.write(src.read())
        dst.truncate(900 << 20)
    out = run("show", sparse)
    expect("show a 900 MB sparse file: exit code", out.returncode != 0, f"got {out.returncode}")
    expect("show a 900 MB sparse file: message", b"larger than 64 MiB is not read" in out.stderr, repr(out.stderr))

# The account is the one the system's user database names for this process: the program is
# linked statically, and still finds it.
out = run("report", "--json")
expect("report --json", out.returncode == 0, repr(out.stderr))
if out.returncode == 0:
    account = json.loads(out.stdout)["System"]["Account"]
    expect("the account", account == pwd.getpwuid(os.geteuid()).pw_name,
           f"shown {account!r}, the system says {pwd.getpwuid(os.geteuid()).pw_name!r}")

# A regular storage file is still shown.
out = run("show", stored)
expect("show a storage file", out.returncode == 0, repr(out.stderr))

if errors:
    sys.exit("\n".join(errors))
print("ok")
