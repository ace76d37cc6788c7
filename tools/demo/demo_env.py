"""What the demo runs in: its folders, its stages, and the processes it must stop again.

Everything the demo makes lives under build/demo of the checkout: its own build, the sample
release, and run/ with the Wine prefix, a sandboxed HOME, the display's files and the logs. The
user's own Wine prefix and home are never used.
"""

import contextlib
import os
import shutil
import signal
import subprocess
import sys
import textwrap
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.path.join(ROOT, "build", "demo")
BUILT_TOOLS = os.path.join(BUILD, "tools")
INSTALLER = os.path.join(BUILD, "bin", "TavroInstaller.exe")
SAMPLE = os.path.join(BUILD, "sample")
RELEASE = os.path.join(SAMPLE, "release")
RELEASE_FILES = os.path.join(SAMPLE, "release-files")
UPDATE_FILES = os.path.join(SAMPLE, "Update", "Unpacked")
RUN = os.path.join(BUILD, "run")
PREFIX = os.path.join(RUN, "prefix")
HOME = os.path.join(RUN, "home")
DISPLAY_DIR = os.path.join(RUN, "display")
REQUEST_LOG = os.path.join(RUN, "requests.log")
WINE_LOG = os.path.join(RUN, "wine.log")
SERVER_LOG = os.path.join(RUN, "release-server.log")
CERTS = os.path.join(RUN, "certs")
# The private release key of the run (tools/release/make-release-key), never committed.
RELEASE_KEY = os.path.join(RUN, "release-key", "demo-run.pem")
# The demo's throwaway code-signing certificates (tools/codesign/make-signing-certs.sh): made
# once and kept with the build, whose installer is signed with them.
SIGNING = os.path.join(BUILD, "signing")
SCREENSHOTS = os.path.join(BUILD, "screenshots")

DRIVE_C = os.path.join(PREFIX, "drive_c")
INSTALL_ROOT = os.path.join(DRIVE_C, "Quendrel", "Tavro")
INSTALL_ROOT_WINDOWS = "C:/Quendrel/Tavro"


class StageFailed(Exception):
    def __init__(self, stage, message):
        super().__init__(message)
        self.stage = stage
        self.message = message


class Interrupted(Exception):
    """Ctrl-C, SIGTERM or SIGHUP: the demo stops and cleans up."""


def _interrupt(signal_number, _frame):
    raise Interrupted(signal.Signals(signal_number).name)


def catch_signals():
    for signal_number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signal_number, _interrupt)


def ignore_signals():
    """While cleaning up, a second Ctrl-C must not leave processes behind."""
    for signal_number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signal_number, signal.SIG_IGN)


class Stages:
    """Numbers and announces the stages; a failure inside one names it."""

    def __init__(self):
        self.number = 0
        self.current = None

    @contextlib.contextmanager
    def run(self, name, explanation):
        self.number += 1
        self.current = name
        print(f"\n== Stage {self.number}: {name}", flush=True)
        text = " ".join(line.strip() for line in explanation.strip().splitlines())
        print(textwrap.fill(text, width=96, initial_indent="   ", subsequent_indent="   "),
              flush=True)
        started = time.monotonic()
        try:
            yield
        except (StageFailed, Interrupted):
            raise
        except (OSError, subprocess.SubprocessError, ValueError, RuntimeError) as error:
            raise StageFailed(name, str(error)) from error
        print(f"   done in {time.monotonic() - started:.1f} s", flush=True)

    def fail(self, message):
        raise StageFailed(self.current or "start", message)


def say(text=""):
    print(f"   {text}" if text else "", flush=True)


class Processes:
    """The processes the demo started, stopped by process id in reverse order on the way out."""

    def __init__(self):
        self._stoppers = []

    def add(self, description, stop):
        self._stoppers.append((description, stop))

    def stop_all(self):
        while self._stoppers:
            description, stop = self._stoppers.pop()
            try:
                stop()
                print(f"   stopped {description}", flush=True)
            except Exception as error:  # noqa: BLE001 - report and go on with the rest
                print(f"   could not stop {description}: {error}", file=sys.stderr, flush=True)


def stop_process(process, grace=5.0):
    """Ends a process started by the demo (its own session): SIGTERM, then SIGKILL."""
    if process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(grace)


def wine_environment(display):
    """The environment of every Wine program the demo runs: its prefix, its HOME, one display."""
    env = dict(os.environ)
    # The X server's cookie is found through HOME unless named: keep the user's before HOME moves.
    if "XAUTHORITY" not in env and "HOME" in env:
        cookie = os.path.join(env["HOME"], ".Xauthority")
        if os.path.exists(cookie):
            env["XAUTHORITY"] = cookie
    env.update({
        "WINEPREFIX": PREFIX,
        "HOME": HOME,
        "WINEDEBUG": "-all",
        # No menu entries or icons in anybody's desktop; no Mono or Gecko prompts.
        "WINEDLLOVERRIDES": "winemenubuilder.exe=d;mscoree=d;mshtml=d",
        "DISPLAY": display,
    })
    env.pop("WINELOADER", None)
    env.pop("WINESERVER", None)
    return env


def run_checked(command, env=None, cwd=None, quiet=False, timeout=None):
    """Runs a command to its end; a non-zero exit is a RuntimeError naming it."""
    output = subprocess.DEVNULL if quiet else None
    result = subprocess.run(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=output,
                            stderr=output, timeout=timeout, check=False)
    if result.returncode != 0:
        raise RuntimeError(f"'{' '.join(command)}' ended with exit code {result.returncode}")


def remove_tree(path):
    shutil.rmtree(path, ignore_errors=True)
    if os.path.exists(path):
        raise RuntimeError(f"cannot remove {path}")
