#!/usr/bin/env python3
"""The server race as the person starting the installer sees it: the real program (the test
build's installer, whose six API servers are the local release server's) is started again and
again in the test prefix, and its log tells when the check started and when a server was chosen.
The release server answers as the demo's does: "true" after 1.2 s, silent, "true" after 0.3 s,
"false", down, "true" after 2.0 s, over HTTPS. Prints, per start, the time from the check's start
to its answer beyond 300 ms, and the probe's own latency, then the medians.

    outside_check.py BUILD_DIR STARTS [PROGRAM]     (PROGRAM: another build of that installer)

Needs the test prefix and release of BUILD_DIR (ctest -R 'wine_prefix_setup|e2e_release_setup'
-FC 'wine_prefix|xvfb' leaves them), and the run's Xvfb. Ends each program with the prefix's own
wineserver -k.
"""
import datetime
import os
import re
import subprocess
import sys
import time

build, starts = sys.argv[1], int(sys.argv[2])
program_path = sys.argv[3] if len(sys.argv) > 3 else os.path.join(build, "bin",
                                                                   "TavroInstallerLocal.exe")
run = os.path.join(build, "test-run")
env = dict(os.environ, WINEPREFIX=os.path.join(run, "prefix"), HOME=os.path.join(run, "home"),
           WINEDEBUG="-all")
with open(os.path.join(build, "test-display", "display")) as f:
    env["DISPLAY"] = f.read().strip()
base = 47310
log = os.path.join(env["WINEPREFIX"], "drive_c", "Quendrel", "Tavro", "Logs", "TavroInstaller.log")
server = subprocess.Popen(
    [sys.executable, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "release-server",
                                  "release_server.py"),
     "--release", os.path.join(build, "e2e-release", "release"), "--base-port", str(base),
     "--tls-cert", os.path.join(run, "certs", "localhost.pem"),
     "--tls-key", os.path.join(run, "certs", "localhost.key"), "--log", os.devnull],
    stdin=subprocess.DEVNULL)
stamp = re.compile(r"^\S+ (\d\d):(\d\d):(\d\d)\.(\d\d\d) ")


def at(line):
    h, m, s, ms = map(int, stamp.match(line).groups())
    return ((h * 60 + m) * 60 + s) * 1000 + ms


overs, latencies = [], []
try:
    time.sleep(1.0)
    for n in range(starts):
        if os.path.exists(log):
            os.remove(log)
        program = subprocess.Popen(["wine", program_path],
                                   env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        checking = chosen = None
        deadline = time.monotonic() + 30
        while chosen is None and time.monotonic() < deadline:
            time.sleep(0.1)
            if not os.path.exists(log):
                continue
            with open(log, encoding="utf-8", errors="replace") as f:
                for line in f:
                    if "Checking the API servers" in line:
                        checking = line
                    elif "Server chosen" in line:
                        chosen = line
        subprocess.run(["wineserver", "-k"], env=env)
        program.wait()
        if checking is None or chosen is None:
            print("start %d: no answer in the log" % n)
            continue
        over = at(chosen) - at(checking) - 300
        latency = int(re.search(r"answered in (\d+) ms", chosen).group(1)) - 300
        overs.append(over)
        latencies.append(latency)
        print("start %d: answer %d ms after the 300 ms server, probe latency %d ms over 300"
              % (n, over, latency))
finally:
    server.terminate()
    server.wait()
overs.sort()
latencies.sort()
if overs:
    print("median of %d starts: answer %d ms after the 300 ms server, probe latency %d ms over 300"
          % (len(overs), overs[len(overs) // 2], latencies[len(latencies) // 2]))
