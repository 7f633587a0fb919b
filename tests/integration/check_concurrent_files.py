#!/usr/bin/python3
"""Several `kyvex` processes on one storage file at once: shows beside shows, shows during a
run of saves, saves beside saves, and a reader that keeps the file longer than a save waits.

usage: check_concurrent_files.py [RUNNER] KYVEX
Through a runner (Wine) the rounds are shorter, and the long reader is left out: its hold is
taken here as Linux has it, which a Windows program does not see."""
import fcntl
import json
import os
import struct
import subprocess
import sys
import tempfile
import threading
import time

prog = [os.path.abspath(a) if os.path.exists(a) else a for a in sys.argv[1:]]
runner = len(prog) > 1
# Fewer processes where each one starts slowly.
SHOWS, SAVES_BESIDE, SHOWS_BESIDE, SAVERS = (4, 2, 6, 2) if runner else (20, 6, 30, 4)
failures = []
IN_USE = "in use by another program"


def run(*args):
    # In the file's folder, by a relative name: the same name for a Linux and a Windows program.
    return subprocess.run(prog + list(args), capture_output=True, timeout=120, cwd=folder)


def loop(count, args, results):
    for _ in range(count):
        results.append(run(*args))


def in_parallel(*jobs):
    threads = [threading.Thread(target=loop, args=job) for job in jobs]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def check_shows(results, what, processors):
    for r in results:
        if r.returncode != 0:
            failures.append(f"{what}: show failed ({r.returncode}): {r.stderr.decode(errors='replace')}")
            continue
        shown = json.loads(r.stdout)
        # One whole save: complete, its header and its processors together.
        if not shown["Complete"] or not shown["StorageInfo"]["MachineName"] or len(shown["CPU"]) != processors:
            failures.append(f"{what}: show saw an incomplete file: {r.stdout[:200]!r}")


with tempfile.TemporaryDirectory() as folder:
    path = "machine.kyx"
    first = run("save", path)
    if first.returncode != 0:
        sys.exit(f"save failed: {first.stderr.decode(errors='replace')}")
    processors = len(json.loads(run("show", path, "--json").stdout)["CPU"])

    shows_a, shows_b = [], []
    in_parallel((SHOWS, ("show", path, "--json"), shows_a), (SHOWS, ("show", path, "--json"), shows_b))
    check_shows(shows_a + shows_b, "two shows", processors)

    saves, shows = [], []
    in_parallel((SAVES_BESIDE, ("save", path), saves), (SHOWS_BESIDE, ("show", path, "--json"), shows))
    check_shows(shows, "show during saves", processors)
    for r in saves:
        if r.returncode != 0:
            failures.append(f"a save beside shows failed: {r.stderr.decode(errors='replace')}")

    # Two savers: each save succeeds, or says plainly that it gave up after waiting.
    saves_a, saves_b = [], []
    in_parallel((SAVERS, ("save", path), saves_a), (SAVERS, ("save", path), saves_b))
    for r in saves_a + saves_b:
        err = r.stderr.decode(errors="replace")
        if r.returncode != 0 and (IN_USE not in err or "gave up after waiting" not in err):
            failures.append(f"concurrent save failed without saying it waited: {err}")
    if sum(r.returncode == 0 for r in saves_a + saves_b) == 0:
        failures.append("no concurrent save succeeded")
    check_shows([run("show", path, "--json")], "after concurrent saves", processors)

    # A reader holding the file (as another kyvex does while it reads) longer than a save
    # waits: the save gives up, says so, and leaves the file as it was.
    if runner:
        for f in failures:
            print(f)
        sys.exit(1 if failures else 0)
    path = os.path.join(folder, path)
    before = open(path, "rb").read()
    with open(path, "rb") as held:
        lock = struct.pack("hhqqixxxx", fcntl.F_RDLCK, os.SEEK_SET, 0, 1, 0)
        fcntl.fcntl(held.fileno(), fcntl.F_OFD_SETLK, lock)
        start = time.monotonic()
        r = run("save", "machine.kyx")
        waited = time.monotonic() - start
    err = r.stderr.decode(errors="replace")
    if r.returncode == 0 or IN_USE not in err or "waiting 5 seconds" not in err:
        failures.append(f"a save under a reader did not give up saying so ({r.returncode}): {err}")
    if waited < 5:
        failures.append(f"the save gave up after {waited:.1f} s, before its five seconds")
    if open(path, "rb").read() != before:
        failures.append("the file changed under the reader")
    if sorted(os.listdir(folder)) != ["machine.kyx"]:
        failures.append(f"files left beside the file: {sorted(os.listdir(folder))}")

for f in failures:
    print(f)
sys.exit(1 if failures else 0)
