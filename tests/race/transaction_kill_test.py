#!/usr/bin/env python3
"""An install or an update killed at any moment, then the next start: every product file is
wholly the earlier version or wholly the new one, never a mix, and the install record says which.

Each trial starts race_driver (update: the transaction from Update/Unpacked; install: a whole
install of a package), kills it (SIGKILL of the Wine process) after a random part of a run's
length, sometimes kills the next start's recovery too (so that an undo is itself interrupted),
then runs the recovery to its end and checks the tree, the record, that no journal, staging
folder or expansion folder is left, that the file only the new version brings is there exactly
when the new version is (and the new folders it lies in are gone when not), and that the build
number and the Apps & features version are the tree's version's. One more trial ends the run right
after the commit point (the install record written). At the end one run reaches the new version
and the uninstall removes every file it recorded.

    transaction_kill_test.py DRIVER update|install TRIALS
"""
import hashlib
import io
import os
import random
import shutil
import signal
import subprocess
import sys
import time
import zipfile

FILES = ["Tavro.exe", "Ostrilan/Ostrilan.exe", "data/blob.bin"] + [
    "data/part %02d/file %03d.txt" % (i // 40, i) for i in range(160)]


def content(path, version):
    """The bytes of path in version 0 or 1; blob.bin is large, to widen the copy's window."""
    if path == "data/blob.bin":
        return bytes([version + 1]) * (3 << 20)
    return ("%s of version %d\n" % (path, version)).encode() * (1 + len(path) % 7)


def digest(data):
    return hashlib.sha256(data).hexdigest()


class Trials:
    def __init__(self, driver, mode):
        self.driver, self.mode = driver, mode
        drive = os.path.join(os.environ["WINEPREFIX"], "drive_c")
        self.quendrel = os.path.join(drive, "Quendrel")
        self.root = os.path.join(self.quendrel, "Tavro")
        self.program_data = os.path.join(drive, "ProgramData")
        self.bad = []

    def native(self, relative):
        return os.path.join(self.root, *relative.split("/"))

    def files_of(self, version, added):
        files = {path: content(path, version) for path in FILES}
        if added:
            files[added] = ("added, version %d\n" % version).encode()
        return files

    def expected_registry(self, version):
        """What the recovery prints of the registry once version is in place."""
        build = "81%d" % version if self.mode == "install" else "-"
        return "build %s version 1.%d" % (build, version)

    def prepare(self, version, added):
        """The input of a run that puts version in place (with added, a file only it brings)."""
        files = self.files_of(version, added)
        if self.mode == "update":
            source = os.path.join(self.root, "Update", "Unpacked")
            shutil.rmtree(source, ignore_errors=True)
            for path, data in files.items():
                target = os.path.join(source, *path.split("/"))
                os.makedirs(os.path.dirname(target), exist_ok=True)
                with open(target, "wb") as f:
                    f.write(data)
            return ["update", "1.%d" % version]
        package = os.path.join(self.root, "tmp", "Tavro-V1.%d-812.zip" % version)
        os.makedirs(os.path.dirname(package), exist_ok=True)
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
            for path, data in files.items():
                z.writestr(path, data)
        with open(package, "wb") as f:
            f.write(buffer.getvalue())
        return ["install", "C:\\Quendrel\\Tavro\\tmp\\" + os.path.basename(package),
                "1.%d" % version, "81%d" % version]

    def start(self, arguments):
        process = subprocess.Popen(["wine", self.driver] + arguments, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        process.stdout.readline()  # "started"
        return process

    def run(self, arguments):
        process = self.start(arguments)
        output = process.stdout.read().decode("utf-8", "replace")
        process.wait()
        process.stdout.close()
        return output

    def kill_after(self, arguments, seconds):
        process = self.start(arguments)
        time.sleep(seconds)
        os.kill(process.pid, signal.SIGKILL)
        process.wait()
        process.stdout.close()
        time.sleep(0.2)  # the wineserver lets go of the killed process's files

    def read(self, relative):
        try:
            with open(self.native(relative), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def record(self):
        entries = {}
        with open(os.path.join(self.root, "TavroInstall.record"), encoding="utf-8") as f:
            for line in f.read().split("\n")[1:]:
                if line:
                    sha, size, path = line.split(" ", 2)
                    entries[path] = (sha, int(size))
        return entries

    def state(self, trial, earlier, later, added, recovered=None):
        """Which version the whole tree is (0 or 1), or None, noting what is wrong. With recovered
        (what the recovery printed) also the registry, and that the folders only added lies in
        (none of them the earlier version's) are gone when the tree is the earlier version."""
        on_disk = {path: self.read(path) for path in FILES}
        found = [v for v in (earlier, later)
                 if all(on_disk[p] == content(p, v) for p in FILES)]
        problems = []
        if not found:
            counts = [sum(on_disk[p] == content(p, v) for p in FILES) for v in (earlier, later)]
            neither = sorted(p for p in FILES if on_disk[p] not in (content(p, 0), content(p, 1)))
            problems.append("a mixed tree: %d files earlier, %d later, %d neither %s"
                            % (counts[0], counts[1], len(neither), neither[:3]))
        else:
            version = found[0]
            if added and (self.read(added) is not None) != (version == later):
                problems.append("the file only the new version brings is %s at version %d"
                                % ("there" if version != later else "missing", version))
            if recovered is not None:
                made = added.split("/")[0]
                if version != later and os.path.lexists(self.native(made)):
                    problems.append("the folder the undone commit made is left: %s" % made)
                registry = [line for line in recovered.splitlines() if line.startswith("build ")]
                if registry != [self.expected_registry(version)]:
                    problems.append("registry %s at version %d" % (registry, version))
            record = self.record()
            files = self.files_of(version, added if version == later else None)
            wrong = [p for p, data in files.items()
                     if record.get(p) != (digest(data), len(data))]
            if wrong:
                problems.append("the record does not match version %d for %s"
                                % (version, wrong[:3]))
        left = [name for name in os.listdir(self.root)
                if name.startswith("TavroInstall.txn.") or name.startswith("TavroInstall.journal")]
        left += [name for name in os.listdir(self.program_data)
                 if name.startswith("TavroInstall.")]
        if left:
            problems.append("left behind: %s" % left)
        for problem in problems:
            self.bad.append("trial %d: %s" % (trial, problem))
        return found[0] if found else None


def main():
    driver, mode, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
    trials = Trials(driver, mode)
    shutil.rmtree(trials.quendrel, ignore_errors=True)
    os.makedirs(trials.root)
    os.makedirs(trials.program_data, exist_ok=True)
    if mode == "update":
        trials.run(["register", "none"])  # the entry an update refreshes

    # A run's length from its "started" line to its end: the kills fall anywhere in it.
    process = trials.start(trials.prepare(0, None))
    started = time.monotonic()
    process.stdout.read()
    process.wait()
    process.stdout.close()
    length = time.monotonic() - started
    version = 0
    outcomes = {"earlier": 0, "later": 0, "undo killed": 0}
    for trial in range(count + 1):
        # Folders only this version brings: an undo must take them away again.
        added = "added %d/deeper/trial.txt" % trial
        later = 1 - version
        arguments = trials.prepare(later, added)
        if trial == count:
            # Ended right after the record: the next start finishes the files and writes what
            # the run would have written after them.
            trials.run(arguments + ["committed"])
        else:
            trials.kill_after(arguments, random.uniform(0.0, length * 1.2))
        if trial % 3 == 2:
            trials.kill_after(["recover"], random.uniform(0.0, 0.4))
            outcomes["undo killed"] += 1
        found = trials.state(trial, version, later, added, trials.run(["recover"]))
        if found is None:
            break
        if trial == count and found != later:
            trials.bad.append("the run ended after its commit point was undone")
        outcomes["later" if found == later else "earlier"] += 1
        version = found

    # The next whole run reaches the new version; the uninstall then removes what it recorded.
    later = 1 - version
    output = trials.run(trials.prepare(later, None))
    if "succeeded 1" not in output:
        trials.bad.append("the clean run after the trials failed: " + output.strip())
    elif any(trials.read(p) != content(p, later) for p in FILES):
        trials.bad.append("the clean run after the trials left an old file")
    recorded = list(trials.record())
    trials.run(["uninstall"])
    still = [p for p in recorded if trials.read(p) is not None]
    if still:
        trials.bad.append("the uninstall left %d recorded files: %s" % (len(still), still[:3]))

    shutil.rmtree(trials.quendrel, ignore_errors=True)
    print("transaction kill (%s): %d trials of %.2f s runs (the last ended at its commit point); "
          "whole earlier %d, whole later %d, recoveries killed %d; problems %d"
          % (mode, count + 1, length, outcomes["earlier"], outcomes["later"],
             outcomes["undo killed"], len(trials.bad)))
    for line in trials.bad[:8]:
        print("  " + line)
    return 1 if trials.bad else 0


if __name__ == "__main__":
    sys.exit(main())
