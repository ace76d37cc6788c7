#!/usr/bin/env python3
"""The install record survives its writer's death at any moment of a rewrite.

race_driver rewrites the record over and over, alternating between two complete sets of entries;
this test kills it (SIGKILL of the Wine process: nothing of it runs on) after a random time, again
and again, and reads the record each time: it must be one of the two sets, whole, never empty,
partial or mixed. A leftover temporary file is allowed; the next rewrite removes it.

    record_kill_test.py DRIVER TRIALS
"""
import os
import random
import shutil
import signal
import subprocess
import sys
import time

HEADER = "Tavro install record 1"


def record_set(text):
    """0 or 1 for a whole record of either set; None for anything else."""
    lines = text.split("\n")
    if lines[0] != HEADER or lines[-1] != "" or len(lines) != 202:
        return None
    sizes = {int(line.split(" ")[1]) // 1000 for line in lines[1:-1]}
    digests = {line.split(" ")[0] for line in lines[1:-1]}
    if len(sizes) != 1 or digests not in ({"a" * 64}, {"b" * 64}):
        return None
    which = sizes.pop()
    return which if digests == {("a", "b")[which] * 64} else None


def main():
    driver, trials = sys.argv[1], int(sys.argv[2])
    drive = os.path.join(os.environ["WINEPREFIX"], "drive_c")
    root = os.path.join(drive, "Quendrel", "Tavro")
    record = os.path.join(root, "TavroInstall.record")
    shutil.rmtree(os.path.join(drive, "Quendrel"), ignore_errors=True)
    os.makedirs(root)
    seen = {0: 0, 1: 0}
    bad = []
    for trial in range(trials):
        writer = subprocess.Popen(["wine", driver, "record", "20"], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        # Wait for its first rewrite, then let it run on for a random while.
        writer.stdout.readline()
        time.sleep(random.uniform(0.0, 0.3))
        os.kill(writer.pid, signal.SIGKILL)
        writer.wait()
        writer.stdout.close()
        time.sleep(0.2)  # the wineserver lets go of the killed process's files
        with open(record, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        which = record_set(text)
        if which is None:
            bad.append("trial %d: a record of %d bytes that is neither set" % (trial, len(text)))
        else:
            seen[which] += 1
    shutil.rmtree(os.path.join(drive, "Quendrel"), ignore_errors=True)
    print("record kill: %d trials, first set %d, second set %d, damaged %d"
          % (trials, seen[0], seen[1], len(bad)))
    for line in bad[:5]:
        print("  " + line)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
