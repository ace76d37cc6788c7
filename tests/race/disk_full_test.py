#!/usr/bin/env python3
"""An update on a drive that fills up leaves the earlier version whole.

The whole C: drive is put on a size-limited tmpfs (a mount below C: would read as a link to the
program's folder checks): the system folders are links to the prefix's own, the install root is
on the small filesystem. With the earlier version installed:
  1. a new version larger than the free space is refused before anything is written;
  2. a new version that fits, with the drive filled from outside as soon as the staging begins
     (the free-space check passed), fails in the staging copy: tree and record wholly earlier,
     nothing staged left;
  3. with room again, the update reaches the new version.

    disk_full_test.py DRIVER
"""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from transaction_kill_test import FILES, Trials, content  # noqa: E402

SIZE_MIB = 24


def fill_once_staging(folder):
    """Once a staging folder appears in folder (the free-space check has passed), writes a file
    into folder until the filesystem is full."""
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and not any(
            name.startswith("TavroInstall.txn.") for name in os.listdir(folder)):
        time.sleep(0.001)
    with open(os.path.join(folder, "filler"), "wb") as f:
        block = b"\0" * (1 << 16)
        try:
            while True:
                f.write(block)
                f.flush()
        except OSError:
            pass


def main():
    driver = sys.argv[1]
    prefix = os.environ["WINEPREFIX"]
    drive_link = os.path.join(prefix, "dosdevices", "c:")
    original = os.path.realpath(drive_link)
    mount = tempfile.mkdtemp(prefix="tavro-small-drive-")
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dm" % SIZE_MIB, "tmpfs", mount],
                   check=True)
    try:
        for name in os.listdir(original):
            if name not in ("Quendrel", "ProgramData"):
                os.symlink(os.path.join(original, name), os.path.join(mount, name))
        os.makedirs(os.path.join(mount, "ProgramData"))
        os.unlink(drive_link)
        os.symlink(mount, drive_link)
        return run(driver, mount)
    finally:
        os.unlink(drive_link)
        os.symlink(original, drive_link)
        subprocess.run(["umount", mount], check=False)
        os.rmdir(mount)


def run(driver, mount):
    trials = Trials(driver, "update")
    trials.root = os.path.join(mount, "Quendrel", "Tavro")
    trials.program_data = os.path.join(mount, "ProgramData")
    os.makedirs(trials.root)
    output = trials.run(trials.prepare(0, None))  # 3 MiB blob + small files, staged once: ~7 MiB
    if "succeeded 1" not in output:
        print("the earlier version could not be installed: " + output)
        return 1

    # 1. Larger than the free space: refused before anything is written.
    big = os.path.join(trials.root, "Update", "Unpacked", "data", "big.bin")
    trials.prepare(1, None)
    with open(big, "wb") as f:
        f.write(b"\1" * (12 << 20))
    output = trials.run(["update"])
    if "Not enough free space" not in output:
        trials.bad.append("a new version larger than the free space was not refused: " + output)
    trials.state(1, 0, 1, "data/big.bin")

    # 2. The drive filled from outside once the staging has begun.
    os.unlink(big)
    process = trials.start(["update"])
    filler = threading.Thread(target=fill_once_staging, args=(trials.root,))
    filler.start()
    output = process.stdout.read().decode("utf-8", "replace")
    process.wait()
    process.stdout.close()
    filler.join()
    if "succeeded 1" in output:
        trials.bad.append("the update on a full drive succeeded")
    full_drive = [line for line in output.splitlines() if line.startswith("failure: ")]
    if not any(line.startswith("failure: Copy failed: ") and "TavroInstall.txn." in line
               for line in full_drive):
        trials.bad.append("the filled drive did not fail the staging copy: %s" % full_drive)
    os.unlink(os.path.join(trials.root, "filler"))
    trials.state(2, 0, 1, "data/big.bin")

    # 3. Room again: the new version.
    output = trials.run(["update"])
    if "succeeded 1" not in output or any(trials.read(p) != content(p, 1) for p in FILES):
        trials.bad.append("with room again the update did not reach the new version: " + output)
    trials.state(3, 0, 1, None)
    print("disk full: problems %d; on the filled drive: %s" % (len(trials.bad), full_drive))
    for line in trials.bad[:8]:
        print("  " + line)
    return 1 if trials.bad else 0


if __name__ == "__main__":
    sys.exit(main())
