"""What an install left in the demo prefix, and whether it matches the release.

Reads the prefix from the Linux side (files, shortcut files) and through Wine's reg.exe (the
registry values), and sums up the release server's request log.
"""

import dataclasses
import filecmp
import glob
import hashlib
import os
import re
import subprocess

import shell_link

REGISTRY_KEY = r"HKCU\SOFTWARE\Tavro"
PROGRAMS = ("Tavro", "Ostrilan")


def installed_files(root):
    """(relative path, size) of every file under root, and the folders that hold no file."""
    files, empty_folders = [], []
    for folder, subfolders, names in os.walk(root):
        subfolders.sort()
        relative_folder = os.path.relpath(folder, root)
        if not names and not subfolders:
            empty_folders.append(relative_folder.replace(os.sep, "/"))
        for name in sorted(names):
            path = os.path.join(folder, name)
            files.append((os.path.relpath(path, root).replace(os.sep, "/"), os.path.getsize(path)))
    return files, empty_folders


def compare_trees(expected_root, actual_root):
    """The relative paths under expected_root whose copy under actual_root is missing or differs."""
    missing, different = [], []
    for folder, _, names in os.walk(expected_root):
        for name in names:
            expected = os.path.join(folder, name)
            relative = os.path.relpath(expected, expected_root)
            actual = os.path.join(actual_root, relative)
            if not os.path.isfile(actual):
                missing.append(relative.replace(os.sep, "/"))
            elif not filecmp.cmp(expected, actual, shallow=False):
                different.append(relative.replace(os.sep, "/"))
    return sorted(missing), sorted(different)


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as source:
        for block in iter(lambda: source.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


@dataclasses.dataclass
class Shortcut:
    path: str  # relative to drive_c
    link: shell_link.ShellLink


def shortcuts(drive_c):
    """The product's and companion's links on the desktop and in the Start menu of any user."""
    found = []
    patterns = []
    for program in PROGRAMS:
        patterns.append(os.path.join(drive_c, "users", "*", "Desktop", f"{program}.lnk"))
        patterns.append(os.path.join(drive_c, "users", "*", "AppData", "Roaming", "Microsoft",
                                     "Windows", "Start Menu", "Programs", program, f"{program}.lnk"))
    for pattern in patterns:
        for path in sorted(glob.glob(pattern)):
            found.append(Shortcut(os.path.relpath(path, drive_c).replace(os.sep, "/"),
                                  shell_link.read(path)))
    return found


def parse_reg_query(text):
    """{value name: (type, data)} from the output of 'reg query KEY'."""
    values = {}
    for line in text.replace("\r", "").splitlines():
        match = re.match(r"^\s+(\S.*?)\s+(REG_[A-Z_]+)\s*(.*)$", line)
        if match:
            values[match.group(1)] = (match.group(2), match.group(3))
    return values


def registry_values(env):
    result = subprocess.run(["wine", "reg", "query", REGISTRY_KEY], env=env,
                            stdin=subprocess.DEVNULL, capture_output=True, text=True,
                            errors="replace", timeout=60, check=False)
    if result.returncode != 0:
        return {}
    return parse_reg_query(result.stdout)


@dataclasses.dataclass
class RequestSummary:
    winner: str = ""  # the API server whose IsUp "true" came first, e.g. "api3 :48613"
    winner_after: float = 0.0
    is_up_requests: int = 0
    latest_version_posts: list = dataclasses.field(default_factory=list)
    package_heads: int = 0
    ranges: list = dataclasses.field(default_factory=list)  # the Range headers of 206 answers
    whole_gets: int = 0
    protocols: set = dataclasses.field(default_factory=set)  # e.g. {"TLSv1.2"}; empty: plain HTTP
    failed_handshakes: int = 0


LOG_LINE = re.compile(r"^(?P<time>\S+) (?P<server>\S+)\s+(?P<port>:\d+)\s+(?P<method>[A-Z]+)\s+"
                      r"(?P<path>\S+)(?: (?P<detail>.*?))? -> (?P<outcome>.*) after "
                      r"(?P<seconds>[\d.]+) s(?: \[(?P<protocol>[^\]]+)\])?$")
HANDSHAKE_LINE = re.compile(r"^\S+ \S+\s+:\d+\s+TLS handshake failed: ")


SIGNED_ANSWER = re.compile(r"/LatestVersion .*-> 200 .*, signed by (?P<key>\S+) until "
                           r"(?P<expires>\S+) after ")


def release_signatures(lines):
    """(key id, expiry) of each signed LatestVersion answer in the request log, once each."""
    found = []
    for line in lines:
        match = SIGNED_ANSWER.search(line)
        if match and (match["key"], match["expires"]) not in found:
            found.append((match["key"], match["expires"]))
    return found


def summarise_requests(lines):
    summary = RequestSummary()
    for line in lines:
        match = LOG_LINE.match(line.rstrip("\n"))
        if not match:
            summary.failed_handshakes += bool(HANDSHAKE_LINE.match(line))
            continue
        if match["protocol"]:
            summary.protocols.add(match["protocol"])
        server = f"{match['server']} {match['port']}"
        method, path, outcome = match["method"], match["path"], match["outcome"]
        if path.endswith("/IsUp"):
            summary.is_up_requests += 1
            if outcome.startswith('200 "true"') and not summary.winner:
                summary.winner, summary.winner_after = server, float(match["seconds"])
        elif path.endswith("/LatestVersion") and method == "POST":
            summary.latest_version_posts.append(f"{server} -> {outcome}")
        elif match["server"] == "package":
            if method == "HEAD":
                summary.package_heads += 1
            elif outcome.startswith("206"):
                summary.ranges.append((match["detail"] or "").removeprefix("Range: "))
            elif outcome.startswith("200"):
                summary.whole_gets += 1
    return summary
