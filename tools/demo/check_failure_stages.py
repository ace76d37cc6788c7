#!/usr/bin/env python3
"""Shows that the demo fails clearly and cleans up: runs scripts/demo headless with a fault.

    tools/demo/check_failure_stages.py [CASE...]     cases: stopped-server corrupt-package
                                                     unsigned-release tampered-release interrupt

Each case must end with a non-zero exit code and a message naming the stage that failed, and
leave nothing running: no process of the demo prefix, no Xvfb of the demo, the release server's
ports free. About a minute per case after the first build (a fresh prefix each time).
"""

import os
import re
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import demo_env as env  # noqa: E402

DEMO = os.path.join(env.ROOT, "scripts", "demo")
CASES = {
    # case: (demo arguments, expected exit code, expected failure line)
    "stopped-server": (["--fault", "stopped-server"], 1,
                       "DEMO FAILED at stage 'download': the box \"Download failed\" says:"),
    # The package's digest from the server no longer matches: the download refuses it (in the
    # download or the pause stage, whichever is running when the last part arrives).
    "corrupt-package": (["--fault", "corrupt-package"], 1,
                        "the box \"Download failed\" says: Download failed: package digest "
                        "mismatch"),
    # The installer refuses the release before anything is downloaded.
    "unsigned-release": (["--fault", "unsigned-release"], 1,
                         "DEMO FAILED at stage 'download': the box \"Download failed\" says: "
                         "LatestVersion failed: the release is not signed: the reply has no "
                         "Signature"),
    "tampered-release": (["--fault", "tampered-release"], 1,
                         "DEMO FAILED at stage 'download': the box \"Download failed\" says: "
                         "LatestVersion failed: the release signature does not verify with key "
                         "demo-run"),
    "interrupt": (["--headless"], 130, "Demo interrupted (SIGINT)."),
}
INTERRUPT_AT = ": download"  # Ctrl-C while the four parts run


def base_port():
    return int(os.environ.get("TAVRO_DEMO_BASE_PORT", "48610"))


def leftovers():
    """What the demo left running: processes of its prefix or build, taken ports."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        if int(pid) == os.getpid():
            continue
        try:
            with open(f"/proc/{pid}/environ", "rb") as environ:
                variables = environ.read().split(b"\0")
            with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                command = cmdline.read().replace(b"\0", b" ").decode(errors="replace")
        except OSError:
            continue
        if f"WINEPREFIX={env.PREFIX}".encode() in variables or env.BUILD in command:
            found.append(f"process {pid}: {command.strip()}")
    if os.path.exists(os.path.join(env.DISPLAY_DIR, "xvfb.pid")):
        found.append("the demo's Xvfb pid file is still there")
    for port in range(base_port() + 1, base_port() + 8):
        with socket.socket() as probe:
            # Connections the stopped server closed linger in TIME_WAIT; only a listener counts.
            probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                probe.bind(("127.0.0.1", port))
            except OSError:
                found.append(f"port {port} is taken")
    return found


def run_case(name):
    arguments, expected_code, expected_line = CASES[name]
    print(f"--- {name}: scripts/demo {' '.join(arguments)}", flush=True)
    child_env = dict(os.environ)
    child_env.pop("DISPLAY", None)
    process = subprocess.Popen([DEMO, *arguments], env=child_env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    output = []
    for line in process.stdout:
        output.append(line)
        if name == "interrupt" and line.startswith("== Stage") and line.rstrip().endswith(
                INTERRUPT_AT):
            time.sleep(3)
            process.send_signal(signal.SIGINT)
    code = process.wait()
    text = "".join(output)
    problems = []
    if code != expected_code:
        problems.append(f"exit code {code}, expected {expected_code}")
    if expected_line not in text:
        problems.append(f"no line '{expected_line}'")
    stray = leftovers()
    problems += stray
    failure = re.search(r"^(DEMO FAILED.*|Demo interrupted.*)$", text, re.MULTILINE)
    print(f"    exit code {code}; {failure.group(0) if failure else 'no failure line'}")
    if problems:
        print("    FAILED: " + "; ".join(problems))
        print("    demo output:\n" + "".join("      " + line for line in output[-40:]))
        return False
    print("    ok: the stage is named, the exit code is non-zero, nothing is left running")
    return True


def main(argv):
    names = argv or list(CASES)
    unknown = [name for name in names if name not in CASES]
    if unknown:
        print(f"unknown case(s): {', '.join(unknown)}; known: {', '.join(CASES)}", file=sys.stderr)
        return 2
    results = [run_case(name) for name in names]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
