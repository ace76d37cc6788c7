#!/usr/bin/env python3
"""Another user's attack on the elevated steps, as a test.

While one elevated step runs (tests/race/race_driver.cpp, under Wine), a second process swaps
each folder below the install root that the step works in for a link to an outside canary folder
and back, again and again: what a normal user can do on Windows, where every user may write the
install root. The canary holds files of the names (and, for the uninstall, the content) the step
writes or deletes, so a step that followed a link would change it. After each run of the step
the canary must be exactly as it was: no file outside the install root created, changed or
deleted. The step itself must either succeed or fail with the link refusal.

    race_harness.py STEP DRIVER SECONDS

Prints one line per step: attempts, outcomes, swaps, and escapes (runs of the driver after
which the outside folder had changed, with the number of entries changed). Exit code 1 on any escape or
any failure other than a refusal.
"""
import ctypes
import hashlib
import os
import random
import shutil
import subprocess
import sys
import threading
import time

RENAME_EXCHANGE = 2
AT_FDCWD = -100
_libc = ctypes.CDLL(None, use_errno=True)


def exchange(a, b):
    """Swaps two names in one step (renameat2), so the folder is never missing in between."""
    if _libc.renameat2(AT_FDCWD, a.encode(), AT_FDCWD, b.encode(), RENAME_EXCHANGE) != 0:
        raise OSError(ctypes.get_errno(), os.strerror(ctypes.get_errno()), a)


def snapshot(folder):
    """Every entry below folder with its kind, size and SHA-256."""
    seen = {}
    for top, folders, files in os.walk(folder):
        for name in folders:
            seen[os.path.relpath(os.path.join(top, name), folder)] = ("dir",)
        for name in files:
            path = os.path.join(top, name)
            with open(path, "rb") as f:
                data = f.read()
            seen[os.path.relpath(path, folder)] = ("file", len(data),
                                                   hashlib.sha256(data).hexdigest())
    return seen


class Swapper(threading.Thread):
    """Turns each folder into a link to the canary and back until stopped."""

    def __init__(self, folders, canary):
        super().__init__(daemon=True)
        self.folders = folders
        self.canary = canary
        self.stop = threading.Event()
        self.swaps = 0

    def run(self):
        for folder in self.folders:
            link = folder + ".racelink"
            if not os.path.lexists(link):
                os.symlink(self.canary, link)
        while not self.stop.is_set():
            for folder in self.folders:
                link = folder + ".racelink"
                try:
                    exchange(folder, link)  # the folder's name is now the link
                    time.sleep(0.0005)
                    exchange(folder, link)  # and the folder again
                    self.swaps += 1
                except OSError:
                    time.sleep(0.001)  # not there yet (the step makes it)
            # Uneven pauses, so that the step also gets through its checks now and then and meets
            # a swap only later, where the held handles are what protects it.
            time.sleep(random.choice((0.0002, 0.002, 0.01, 0.03)))

    def finish(self):
        self.stop.set()
        self.join()
        for folder in self.folders:
            link = folder + ".racelink"
            if os.path.islink(folder) and os.path.isdir(link) and not os.path.islink(link):
                exchange(folder, link)
            if os.path.islink(link):
                os.remove(link)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


class Prefix:
    def __init__(self):
        self.drive = os.path.join(os.environ["WINEPREFIX"], "drive_c")
        self.root = os.path.join(self.drive, "Quendrel", "Tavro")
        self.canary = os.path.join(self.drive, "RaceCanary")

    def clean(self):
        for path in (os.path.join(self.drive, "Quendrel"), self.canary,
                     os.path.join(self.drive, "RaceSource")):
            shutil.rmtree(path, ignore_errors=True)


# What each step is given and which folders are swapped while it runs.
FILES = {"a.bin": b"a" * 70000, "deep/b.bin": b"b" * 5000, "deep/c.txt": b"the product's file\n"}
FILES.update({"deep/f%02d.dll" % n: b"library %d\n" % n for n in range(40)})


def set_up_copy(prefix):
    for name, data in FILES.items():
        write(os.path.join(prefix.drive, "RaceSource", "sub", name), b"new " + data)
        write(os.path.join(prefix.canary, name), data)  # what a write-through would replace
    os.makedirs(os.path.join(prefix.root, "sub", "deep"), exist_ok=True)
    return [os.path.join(prefix.root, "sub"), os.path.join(prefix.root, "sub", "deep")]


def set_up_log(prefix):
    write(os.path.join(prefix.canary, "TavroInstaller.log"), b"the canary's own log\r\n")
    write(os.path.join(prefix.canary, "TavroInstaller.1.log"), b"and its older one\r\n")
    os.makedirs(os.path.join(prefix.root, "Logs"), exist_ok=True)
    return [os.path.join(prefix.root, "Logs")]


def set_up_uninstall(prefix):
    # The record is every user's to write: it names files whose hashes match the canary's.
    lines = ["Tavro install record 1"]
    for name, data in FILES.items():
        write(os.path.join(prefix.root, "sub", name), data)
        write(os.path.join(prefix.canary, name), data)
        lines.append("%s %d sub/%s" % (hashlib.sha256(data).hexdigest(), len(data), name))
    write(os.path.join(prefix.root, "TavroInstall.record"), ("\n".join(lines) + "\n").encode())
    return [os.path.join(prefix.root, "sub"), os.path.join(prefix.root, "sub", "deep")]


def set_up_download(prefix):
    for n in range(300):
        package = "Tavro-V1.%d-812.zip" % n
        for name in [package, package + ".temp"] + [package + ".temp.part%d" % i for i in range(4)]:
            write(os.path.join(prefix.canary, name), b"the canary's " + name.encode())
    os.makedirs(os.path.join(prefix.root, "tmp"), exist_ok=True)
    return [os.path.join(prefix.root, "tmp")]


def set_up_folders(prefix):
    write(os.path.join(prefix.canary, "keep.txt"), b"the canary's own file")
    os.makedirs(os.path.join(prefix.root, "sub"), exist_ok=True)
    return [os.path.join(prefix.root, "sub")]


STEPS = {
    "copy": (set_up_copy, True),
    "folders": (set_up_folders, True),
    "commit": (set_up_copy, True),
    "log": (set_up_log, True),
    "uninstall": (set_up_uninstall, False),
    "download": (set_up_download, True),
}


def run_driver(driver, step, seconds):
    args = [driver, step] + (["%.1f" % seconds] if STEPS[step][1] else [])
    out = subprocess.run(["wine"] + args, stdin=subprocess.DEVNULL, capture_output=True,
                         timeout=120).stdout.decode("utf-8", "replace").replace("\r", "")
    counts = {"attempts": 0, "succeeded": 0, "refused": 0, "failed": 0}
    failures = []
    for line in out.splitlines():
        words = line.split()
        if words and words[0] == "attempts":
            for key, value in zip(words[0::2], words[1::2]):
                counts[key] = int(value)
        elif line.startswith("failure: "):
            failures.append(line[len("failure: "):])
    if counts["attempts"] == 0:
        failures.append("the driver reported nothing: " + out.strip()[-400:])
    return counts, failures


def main():
    step, driver, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
    set_up, repeats_itself = STEPS[step]
    prefix = Prefix()
    totals = {"attempts": 0, "succeeded": 0, "refused": 0, "failed": 0}
    failures = []
    escapes = 0
    changed_entries = 0
    swaps = 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        prefix.clean()
        folders = set_up(prefix)
        before = snapshot(prefix.canary)
        swapper = Swapper(folders, prefix.canary)
        swapper.start()
        try:
            counts, run_failures = run_driver(driver, step,
                                              max(0.5, end - time.monotonic()) if repeats_itself
                                              else 0)
        finally:
            swapper.finish()
        swaps += swapper.swaps
        after = snapshot(prefix.canary)
        changed = sorted(name for name in set(before) | set(after)
                         if before.get(name) != after.get(name))
        if changed:
            escapes += 1
            changed_entries += len(changed)
            failures.append("outside the install root, changed: " + ", ".join(
                "%s (%s -> %s)" % (name, before.get(name, ("absent",))[:2],
                                   after.get(name, ("absent",))[:2]) for name in changed))
        for key in totals:
            totals[key] += counts[key]
        failures.extend(run_failures)
    prefix.clean()
    print("race %s: attempts %d, succeeded %d, refused %d, failed %d, swaps %d, escapes %d "
          "(runs that changed the outside folder; %d entries changed)"
          % (step, totals["attempts"], totals["succeeded"], totals["refused"], totals["failed"],
             swaps, escapes, changed_entries))
    for failure in failures[:10]:
        print("  " + failure)
    return 1 if escapes or totals["failed"] or failures else 0


if __name__ == "__main__":
    sys.exit(main())
