#!/usr/bin/env python3
"""The demo: the real installer finds a local release server, downloads a release, installs it.

    scripts/demo [--updater | --quiet] [--headless] [--plain-http] [--fault FAULT]

Run through scripts/demo, which first installs the Debian packages. With a display (DISPLAY set)
the installer window opens there for you to drive; without one, or with --headless, the demo
starts its own X server and drives the window itself, saving a screenshot of each stage. --updater
then shows updater mode on the installed demo product. --quiet installs unattended, as a
deployment tool would: no window, and the demo shows the exit code and the log. --fault breaks one thing on purpose (the
release server stops after the server check, serves a corrupt package, answers unsigned or with a
tampered signed release), to show how the demo reports a failed stage. The release is signed with
a key made for the run, whose public half the demo builds into its development installer, and the
installer is signed (Authenticode) with a throwaway certificate only the demo prefix trusts. Every process it starts is stopped again by process id on the way out.
Everything runs over HTTPS, as in production, with certificates made for the run whose test CA
only the demo's prefix trusts; --plain-http runs the old way, over plain HTTP.
"""

import argparse
import glob
import json
import os
import shutil
import subprocess
import sys
import time

import demo_env as env
import drive_demo
import install_report
from demo_env import Stages, StageFailed, Interrupted, say

API_SERVER_COUNT = 6
DEMO_EMAIL = "demo@example.com"
DEFAULT_BASE_PORT = 48610
# Per-connection bandwidth cap of the package server: the 44 MiB package takes about 11 s in four
# parts, long enough to watch the parts and a pause.
PACKAGE_RATE_MIB = 1.0
# The id of the release key the demo makes for each run.
RELEASE_KEY_ID = "demo-run"
# The release server's misbehaviour for each signing fault of the demo.
SIGNING_FAULTS = {"unsigned-release": "unsigned", "tampered-release": "tamper-version"}
# What the exit codes of an unattended install mean (README, "Deploying it").
EXIT_CODES = {0: "installed", 87: "bad command line", 1602: "cancelled",
              1603: "the install failed", 1612: "the latest-version query failed",
              1618: "another installer is running", 1619: "the download failed",
              12029: "no API server answered"}
# The race: API server 3 answers first; 1 and 6 later, 2 never, 4 says "false", 5 is down.
API_BEHAVIOURS = "1.2,silent,0.3,false,down,2.0"


def parse_arguments(argv):
    parser = argparse.ArgumentParser(prog="scripts/demo", description=__doc__.split("\n\n")[0])
    parser.add_argument("--updater", action="store_true",
                        help="show updater mode on the installed demo product (installs it first "
                             "when the demo prefix has none)")
    parser.add_argument("--quiet", action="store_true",
                        help="an unattended install (TavroInstaller.exe --quiet --email ...): no "
                             "window; shows the exit code and the log")
    parser.add_argument("--headless", action="store_true",
                        help="use the demo's own X server and drive the window, even with DISPLAY")
    parser.add_argument("--plain-http", action="store_true",
                        help="talk plain HTTP to the release servers instead of HTTPS")
    parser.add_argument("--fault", choices=("stopped-server", "corrupt-package", "unsigned-release",
                                            "tampered-release"),
                        help="break one thing on purpose to see a failed stage (implies --headless)")
    arguments = parser.parse_args(argv)
    if arguments.quiet and arguments.updater:
        parser.error("--quiet is an install: it does not go with --updater")
    if arguments.quiet and arguments.fault == "stopped-server":
        parser.error("--fault stopped-server needs the window (it waits for \"Server OK\")")
    if arguments.fault or arguments.quiet:
        arguments.headless = True
    if not os.environ.get("DISPLAY"):
        arguments.headless = True
    return arguments


def base_port():
    text = os.environ.get("TAVRO_DEMO_BASE_PORT", str(DEFAULT_BASE_PORT))
    if not text.isdigit() or not 1024 <= int(text) <= 65528:
        raise SystemExit(f"TAVRO_DEMO_BASE_PORT '{text}' is not a port between 1024 and 65528")
    return int(text)


def api_server_urls(port, plain_http=False):
    base = "http://127.0.0.1" if plain_http else "https://localhost"  # the certificate's name
    return [f"{base}:{port + 1 + index}" for index in range(API_SERVER_COUNT)]


class Demo:
    def __init__(self, arguments):
        self.arguments = arguments
        self.stages = Stages()
        self.processes = env.Processes()
        self.port = base_port()
        self.display = None
        self.wine_env = None
        self.release_server = None
        self.installer = None
        self.ui = None
        self.release_key_line = ""

    # --- stages shared by both modes -----------------------------------------------------------

    def make_release_key(self):
        with self.stages.run("release key", f"""
                A release signing key (ECDSA P-256) made for this run by
                tools/release/make-release-key: the private half stays in
                {os.path.relpath(env.RELEASE_KEY, env.ROOT)} (mode 0600) for the release server,
                the public half is built into the installer, which then takes only releases
                signed with it."""):
            os.makedirs(os.path.dirname(env.RELEASE_KEY), exist_ok=True)
            if os.path.exists(env.RELEASE_KEY):
                os.remove(env.RELEASE_KEY)
            made = subprocess.run([os.path.join(env.ROOT, "tools", "release", "make-release-key"),
                                   env.RELEASE_KEY, RELEASE_KEY_ID], capture_output=True, text=True)
            if made.returncode != 0:
                self.stages.fail("make-release-key failed: " + made.stderr.strip())
            self.release_key_line = made.stdout.strip()
            say(f"key {RELEASE_KEY_ID}: public half {self.release_key_line.split('=', 1)[1][:44]}...")

    def make_signing_certificate(self):
        with self.stages.run("signing certificate", f"""
                A throwaway code-signing certificate "Quendrel Test Signing" and its CA, made with
                openssl (tools/codesign/make-signing-certs.sh) once and kept in
                {os.path.relpath(env.SIGNING, env.ROOT)}; the build signs the installer with it,
                as a production build signs with TAVRO_SIGNING_CERT, and only the demo prefix
                trusts the CA."""):
            if os.path.exists(os.path.join(env.SIGNING, "signer.key")):
                say("kept from an earlier run")
                return
            env.run_checked([os.path.join(env.ROOT, "tools", "codesign", "make-signing-certs.sh"),
                             env.SIGNING])

    def build(self):
        servers = api_server_urls(self.port, self.arguments.plain_http)
        with self.stages.run("build", f"""
                A development build of the installer in build/demo whose six API servers are the
                local release servers ({servers[0]} to :{self.port + API_SERVER_COUNT}) and whose
                release key is the run's, with the stand-ins for outside programs. The
                production build (build/mingw) and its settings stay as they are. The first
                build takes a few minutes."""):
            env.run_checked(["cmake", "--preset", "demo",
                             f"-DTAVRO_DEVELOPMENT_API_SERVERS={';'.join(servers)}",
                             f"-DTAVRO_RELEASE_KEYS={self.release_key_line}",
                             f"-DTAVRO_SIGNING_CERT={os.path.join(env.SIGNING, 'signer.pem')}",
                             f"-DTAVRO_SIGNING_KEY={os.path.join(env.SIGNING, 'signer.key')}"],
                            cwd=env.ROOT, quiet=True)
            env.run_checked(["cmake", "--build", "--preset", "demo", "-j", "2"], cwd=env.ROOT)
            self.show_signature()

    def show_signature(self):
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile",
                                   os.path.join(env.SIGNING, "ca.pem"), "-in", env.INSTALLER],
                                  capture_output=True, text=True, check=False)
        wanted = ("Subject:", "Text description:", "Message digest algorithm  :",
                  "Timestamp is", "Signature verification:")
        shown = set()
        for line in (line.strip() for line in verified.stdout.splitlines()):
            prefix = next((start for start in wanted if line.startswith(start)), None)
            if prefix and prefix not in shown:  # the signer's subject, not its CA's
                shown.add(prefix)
                say(line)
        if verified.returncode != 0:
            self.stages.fail("the installer's signature does not verify: " +
                             (verified.stdout + verified.stderr).strip()[-400:])

    def sample_release(self):
        with self.stages.run("sample release", """
                The release the server offers, made from our stand-ins: Tavro.exe 4.1.0 (a small
                window saying which version runs), its icon, Ostrilan/Ostrilan.exe, the USB
                driver tool, data files; packed as a 44 MiB zip. Also the newer version 4.2.0,
                unpacked as updater mode expects it in Update/Unpacked."""):
            env.run_checked([sys.executable, os.path.join(env.ROOT, "tools", "sample-release",
                                                          "make-sample-release.py"),
                             env.BUILT_TOOLS, env.SAMPLE])

    def start_display(self):
        if not self.arguments.headless:
            self.display = os.environ["DISPLAY"]
            with self.stages.run("display", f"""
                    Windows open on your display {self.display}; you drive them."""):
                pass
            return
        with self.stages.run("display", """
                No display to show the windows on (or --headless): the demo starts its own X
                server (Xvfb), drives the windows itself and saves a screenshot of each stage."""):
            script = os.path.join(env.ROOT, "cmake", "xvfb.sh")
            env.run_checked([script, "setup", env.DISPLAY_DIR])
            self.processes.add("the X server (Xvfb)",
                               lambda: env.run_checked([script, "cleanup", env.DISPLAY_DIR]))
            with open(os.path.join(env.DISPLAY_DIR, "display"), encoding="utf-8") as display:
                self.display = display.read().strip()
            say(f"X server {self.display}")
        if not self.arguments.updater:  # updater mode adds its pictures to the installer's
            shutil.rmtree(env.SCREENSHOTS, ignore_errors=True)
        os.makedirs(env.SCREENSHOTS, exist_ok=True)

    def prepare_wine(self, fresh):
        self.wine_env = env.wine_environment(self.display)
        if os.path.exists(env.WINE_LOG):
            os.remove(env.WINE_LOG)
        # From here on, the prefix's Wine server and every program in it end with the demo.
        self.processes.add("the demo prefix's Wine programs (wineserver -k)", self.stop_wine)
        if not fresh:
            self.set_window_management()
            return
        with self.stages.run("wine prefix", f"""
                A fresh Wine prefix for the demo in {os.path.relpath(env.PREFIX, env.ROOT)}, with
                its own HOME, so your own Wine prefix and home stay untouched; then the stand-ins
                for PowerShell's Expand-Archive and taskkill (tools/install-standins.sh)."""):
            self.stop_wine()
            env.remove_tree(env.PREFIX)
            env.remove_tree(env.HOME)
            os.makedirs(env.HOME)
            env.run_checked(["wineboot", "-i"], env=self.wine_env, quiet=True, timeout=240)
            env.run_checked(["wineserver", "-w"], env=self.wine_env, quiet=True, timeout=120)
            env.run_checked([os.path.join(env.ROOT, "tools", "install-standins.sh"), env.PREFIX,
                             env.BUILT_TOOLS], env=self.wine_env)
            self.set_window_management()

    def trust_certificates(self):
        tls = "" if self.arguments.plain_http else f"""
                Certificates for this run, made with openssl (tools/tls/make-test-certs.sh) in
                {os.path.relpath(env.CERTS, env.ROOT)}: a test CA and from it a certificate for
                localhost."""
        with self.stages.run("certificates", f"""{tls}
                The demo prefix's machine Root store gets the test CAs (trust-ca.exe), the code
                signing one included; your own system's trust store is never touched."""):
            cas = [os.path.join(env.SIGNING, "ca.pem")]
            if not self.arguments.plain_http:
                env.run_checked([os.path.join(env.ROOT, "tools", "tls", "make-test-certs.sh"),
                                 env.CERTS])
                cas.append(os.path.join(env.CERTS, "ca.pem"))
            for ca in cas:
                env.run_checked(["wine", os.path.join(env.BUILT_TOOLS, "trust-ca.exe"), "Z:" + ca],
                                env=self.wine_env, timeout=60)

    def set_window_management(self):
        # The demo's own X server has no window manager: unmanaged windows close at once, where
        # a managed one waits 2 s for a manager that never answers. On your display they are
        # managed (title bar, moving).
        managed = "N" if self.arguments.headless else "Y"
        env.run_checked(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                         "/d", managed, "/f"], env=self.wine_env, quiet=True, timeout=60)

    def stop_wine(self):
        if self.wine_env is None or not os.path.isdir(env.PREFIX):
            return
        subprocess.run(["wineserver", "-k"], env=self.wine_env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        subprocess.run(["wineserver", "-w"], env=self.wine_env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30,
                       check=False)

    def start_wine_program(self, arguments, cwd=None):
        """Starts a program in the demo prefix; its output goes to the Wine log."""
        log = open(env.WINE_LOG, "ab")
        try:
            process = subprocess.Popen(["wine", *arguments], env=self.wine_env, cwd=cwd,
                                       stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                       start_new_session=True)
        finally:
            log.close()
        self.processes.add(f"wine {os.path.basename(arguments[0])} (pid {process.pid})",
                           lambda: env.stop_process(process))
        return process

    # --- installer mode --------------------------------------------------------------------------

    def start_release_servers(self):
        fault = self.arguments.fault
        with self.stages.run("release servers", f"""
                tools/release-server on 127.0.0.1 ({"plain HTTP" if self.arguments.plain_http
                else "HTTPS, as https://localhost"}): six API servers on ports {self.port + 1} to
                {self.port + 6} (api3 answers after 0.3 s, api1 after 1.2 s, api6 after 2 s, api2
                never, api4 says "false", api5 is down) and the package server on port
                {self.port + 7} with ranges, capped at {PACKAGE_RATE_MIB:g} MiB/s per connection.
                Every request ends in one line of {os.path.relpath(env.REQUEST_LOG, env.ROOT)}."""):
            for path in (env.REQUEST_LOG, env.SERVER_LOG):
                if os.path.exists(path):
                    os.remove(path)
            command = [sys.executable, os.path.join(env.ROOT, "tools", "release-server",
                                                    "release_server.py"),
                       "--release", env.RELEASE, "--base-port", str(self.port),
                       "--api", API_BEHAVIOURS, "--rate", str(PACKAGE_RATE_MIB),
                       "--log", env.REQUEST_LOG]
            if not self.arguments.plain_http:
                command += ["--tls-cert", os.path.join(env.CERTS, "localhost.pem"),
                            "--tls-key", os.path.join(env.CERTS, "localhost.key")]
            command += ["--release-key", env.RELEASE_KEY, "--key-id", RELEASE_KEY_ID]
            if fault == "corrupt-package":
                command.append("--corrupt")
                say("FAULT on purpose: the package server inverts 4 KiB in the middle of the package")
            if fault in SIGNING_FAULTS:
                command += ["--release-fault", SIGNING_FAULTS[fault]]
                say("FAULT on purpose: the API servers answer " + (
                    "without a signature" if fault == "unsigned-release" else
                    "with the Version changed after signing"))
            with open(env.SERVER_LOG, "wb") as server_log:
                process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=server_log,
                                           stderr=server_log, start_new_session=True)
            self.release_server = process
            self.processes.add(f"the release server (pid {process.pid})",
                               lambda: env.stop_process(process))
            deadline = time.monotonic() + 30
            while "release server ready" not in read_text(env.SERVER_LOG):
                if process.poll() is not None:
                    self.stages.fail("the release server ended at once:\n"
                                     + read_text(env.SERVER_LOG).strip())
                if time.monotonic() > deadline:
                    self.stages.fail("the release server did not get ready within 30 s")
                time.sleep(0.1)
            for line in read_text(env.SERVER_LOG).strip().splitlines():
                say(line)

    def stop_release_server_on_purpose(self):
        say("FAULT on purpose: stopping the release server now (Server OK was shown)")
        env.stop_process(self.release_server)

    def run_installer(self):
        with self.stages.run("installer window", """
                The development installer starts in the demo prefix and probes the six API
                servers at once; the first to answer "true" wins."""):
            self.installer = self.start_wine_program([env.INSTALLER], cwd=env.RUN)
        if self.arguments.headless:
            drive_demo.drive_installer(self)
        else:
            self.wait_for_person_installing()

    def wait_for_person_installing(self):
        with self.stages.run("your turn", f"""
                The installer window is open on your display. Type an e-mail address (any text
                with an @ and a full stop), press "Download Latest Version" (Pause and Resume
                while the four parts run), tick "Install USB driver" if you like and press
                "Install" (the USB driver tool stand-in shows a box: press OK). When "Install
                completed." has shown, close the installer window; the demo then reports what was
                installed. Ctrl-C ends the demo at any time."""):
            self.installer.wait()
            say(f"the installer ended (exit code {self.installer.returncode})")
            if not os.path.isfile(os.path.join(env.INSTALL_ROOT, "Tavro.exe")):
                self.stages.fail("the installer window was closed before Tavro was installed")

    def report_install(self, tls):
        with self.stages.run("what was installed", f"""
                Files under {env.INSTALL_ROOT_WINDOWS} (in the prefix: {os.path.relpath(
                    env.INSTALL_ROOT, env.ROOT)}), the shortcuts with their targets, the registry
                values, and the release server's request log."""):
            print_install_report(self.wine_env)
            print_request_log(tls)

    def check_install(self):
        with self.stages.run("check", """
                The installed files must be byte-identical to the release's files, the downloaded
                package to the served package, and the download must have come in four ranges;
                the installer's signed copy must be kept in Program Files."""):
            missing, different = install_report.compare_trees(env.RELEASE_FILES, env.INSTALL_ROOT)
            problems = [f"missing: {path}" for path in missing]
            problems += [f"differs from the release: {path}" for path in different]
            download_folder = os.path.join(env.INSTALL_ROOT, "tmp")
            downloads = sorted(glob.glob(os.path.join(download_folder, "*.zip")))
            if len(downloads) != 1:
                problems.append(f"{len(downloads)} packages in the download folder, not 1")
            elif install_report.sha256(downloads[0]) != install_report.sha256(release_package()):
                problems.append(f"the downloaded package {os.path.basename(downloads[0])} differs "
                                "from the served one")
            summary = install_report.summarise_requests(read_text(env.REQUEST_LOG).splitlines())
            if len(summary.ranges) != 4:
                problems.append(f"the package came in {len(summary.ranges)} ranges, not 4")
            if not self.arguments.plain_http and not summary.protocols:
                problems.append("the requests did not come over TLS")
            if problems:
                self.stages.fail("; ".join(problems))
            count = sum(1 for _ in walk_files(env.RELEASE_FILES))
            say(f"all {count} files of the release are byte-identical in the install root; the "
                f"downloaded package matches; four ranges")
            self.check_kept_installer()

    def check_kept_installer(self):
        """The signed installer's copy in Program Files, registered for the uninstall."""
        kept = os.path.join(env.DRIVE_C, "Program Files", "Tavro", "TavroInstaller.exe")
        if not os.path.isfile(kept):
            self.stages.fail("no installer copy in C:/Program Files/Tavro (see the log's "
                             "\"Apps & features entry\" line)")
        if install_report.sha256(kept) != install_report.sha256(env.INSTALLER):
            self.stages.fail("the installer copy in C:/Program Files/Tavro differs from the "
                             "signed installer")
        log = read_text(os.path.join(env.INSTALL_ROOT, "Logs", "TavroInstaller.log"))
        if "Apps & features entry written" not in log:
            self.stages.fail("the installer copy was not registered for the uninstall (see the "
                             "log's \"Apps & features entry\" line)")
        say("the installer's copy in C:/Program Files/Tavro is the signed installer, verified "
            "and registered for the uninstall")

    def run_quiet_installer(self):
        with self.stages.run("quiet install", f"""
                TavroInstaller.exe --quiet --email {DEMO_EMAIL}, as a deployment tool starts it:
                no window and no message box (the demo watches the X server for any), the whole
                road from the server race to the install; the outcome is the exit code, the
                details are in C:/Quendrel/Tavro/Logs/TavroInstaller.log."""):
            log_path = os.path.join(env.INSTALL_ROOT, "Logs", "TavroInstaller.log")
            start = len(read_text(log_path))
            process = self.start_wine_program([env.INSTALLER, "--quiet", "--email", DEMO_EMAIL],
                                              cwd=env.RUN)
            windows = set()
            while process.poll() is None:
                windows |= visible_windows(self.wine_env)
                time.sleep(0.2)
            lines = read_text(log_path)[start:].splitlines()
            say("the run's lines of the log:")
            for line in lines:
                say(f"  {line}")
            ends = [line.rsplit(" ", 1)[1] for line in lines if "End: exit code " in line]
            code = int(ends[-1]) if ends else None
            say(f"exit code {code}: {EXIT_CODES.get(code, 'unknown')} (Wine hands Linux its low "
                f"8 bits: {process.returncode})")
            say("windows shown on the X server: " + (", ".join(sorted(windows)) or "none"))
            if code != 0:
                self.stages.fail(f"the quiet install ended with exit code {code} "
                                 f"({EXIT_CODES.get(code, 'unknown')})")
            if windows:
                self.stages.fail("the quiet install showed windows: " + ", ".join(sorted(windows)))

    def installer_demo(self, fresh_prefix=True):
        self.prepare_wine(fresh=fresh_prefix)
        self.trust_certificates()
        self.start_release_servers()
        if self.arguments.quiet:
            self.run_quiet_installer()
        else:
            self.run_installer()
        self.report_install(not self.arguments.plain_http)
        self.check_install()

    # --- updater mode ----------------------------------------------------------------------------

    def updater_demo(self):
        installed = os.path.isfile(os.path.join(env.INSTALL_ROOT, "Tavro.exe"))
        if not installed:
            say("")
            say("The demo prefix holds no installed Tavro yet: the installer demo runs first.")
            self.installer_demo(fresh_prefix=True)
            self.stop_installer_side()
        else:
            self.prepare_wine(fresh=False)
        drive_demo.show_updater(self)

    def stop_installer_side(self):
        """Ends the installer and the release servers before updater mode starts."""
        if self.installer is not None and self.installer.poll() is None:
            env.stop_process(self.installer)
        if self.release_server is not None:
            env.stop_process(self.release_server)

    # --- the whole run ---------------------------------------------------------------------------

    def run(self):
        self.make_release_key()
        self.make_signing_certificate()
        self.build()
        self.sample_release()
        self.start_display()
        if self.arguments.updater:
            self.updater_demo()
        else:
            self.installer_demo()

    def clean_up(self):
        env.ignore_signals()
        print("\n== Stopping what the demo started", flush=True)
        self.processes.stop_all()


def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as text_file:
            return text_file.read()
    except FileNotFoundError:
        return ""


def visible_windows(wine_env):
    """The titles of the Tavro windows (and boxes) shown on the X server now."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Tavro|zadig"],
                           env=wine_env, capture_output=True, text=True)
    titles = set()
    for window in found.stdout.split():
        name = subprocess.run(["xdotool", "getwindowname", window], env=wine_env,
                              capture_output=True, text=True)
        titles.add(name.stdout.strip() or window)
    return titles


def walk_files(root):
    for folder, _, names in os.walk(root):
        for name in names:
            yield os.path.join(folder, name)


def release_package():
    with open(os.path.join(env.RELEASE, "release.json"), encoding="utf-8") as manifest:
        return os.path.join(env.RELEASE, json.load(manifest)["Package"])


def print_install_report(wine_env):
    files, empty_folders = install_report.installed_files(env.INSTALL_ROOT)
    say(f"files under {env.INSTALL_ROOT_WINDOWS}:")
    for relative, size in files:
        say(f"  {size:>10}  {relative}")
    for folder in empty_folders:
        say(f"  {'(folder)':>10}  {folder}/")
    say("shortcuts:")
    for shortcut in install_report.shortcuts(env.DRIVE_C):
        link = shortcut.link
        say(f"  C:/{shortcut.path}")
        say(f"      target {link.target}  (in {link.working_dir}, icon {link.icon_location or '-'})")
    say(rf"registry values under {install_report.REGISTRY_KEY}:")
    values = install_report.registry_values(wine_env)
    if not values:
        say("  (none)")
    for name, (kind, data) in values.items():
        say(f"  {name} ({kind}) = {data}")


def print_request_log(tls):
    lines = read_text(env.REQUEST_LOG).splitlines()
    say(f"the release server's request log ({os.path.relpath(env.REQUEST_LOG, env.ROOT)}):")
    for line in lines:
        say(f"  {line}")
    summary = install_report.summarise_requests(lines)
    say("in short:")
    say(f"  the race: six IsUp probes at once, {summary.is_up_requests} reached a server (api5 "
        f"is down); {summary.winner or 'nobody'} answered \"true\" first, after "
        f"{summary.winner_after:.2f} s")
    for post in summary.latest_version_posts:
        say(f"  LatestVersion: {post}")
    for key_id, expires in install_report.release_signatures(lines):
        say(f"  the release was signed with key {key_id} (made for this run), valid until "
            f"{expires}; the installer checked it before downloading")
    say(f"  the package: {summary.package_heads} HEAD, {len(summary.ranges)} ranges "
        f"({', '.join(summary.ranges)})" + (f", {summary.whole_gets} whole GET" if
                                            summary.whole_gets else ""))
    if not tls:
        say("  plain HTTP (--plain-http): no TLS")
        return
    protocols = ", ".join(sorted(summary.protocols)) or "none"
    say(f"  TLS: every request above over {protocols}; the servers' certificate: "
        + certificate_line())
    if summary.failed_handshakes:
        say(f"  {summary.failed_handshakes} TLS handshakes failed")


def certificate_line():
    for line in read_text(env.SERVER_LOG).splitlines():
        if line.startswith("TLS certificate: "):
            return line.removeprefix("TLS certificate: ")
    return "(not reported by the release server)"


def main(argv):
    arguments = parse_arguments(argv)
    env.catch_signals()
    demo = Demo(arguments)
    started = time.monotonic()
    code = 0
    try:
        demo.run()
    except StageFailed as failure:
        print(f"\nDEMO FAILED at stage '{failure.stage}': {failure.message}", file=sys.stderr,
              flush=True)
        logs = [path for path in (env.WINE_LOG, env.SERVER_LOG, env.REQUEST_LOG)
                if os.path.exists(path)]
        if logs:
            print("Logs: " + ", ".join(os.path.relpath(path, env.ROOT) for path in logs),
                  file=sys.stderr, flush=True)
        code = 1
    except Interrupted as interruption:
        print(f"\nDemo interrupted ({interruption}).", file=sys.stderr, flush=True)
        code = 130
    finally:
        demo.clean_up()
    if code == 0:
        print(f"\nDemo finished in {time.monotonic() - started:.0f} s. Screenshots: "
              f"{os.path.relpath(env.SCREENSHOTS, env.ROOT)}/ (headless runs); the installed demo "
              f"stays in {os.path.relpath(env.PREFIX, env.ROOT)} for ./scripts/demo --updater.",
              flush=True)
    return code


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
