"""The installer end to end, as a person uses it: TavroInstallerLocal.exe (the program with an API
server list at 127.0.0.1) under Wine on the test run's Xvfb, clicked and typed into with xdotool,
read back through winprobe, against the real local release server, over HTTPS as in production
(the release server uses the test run's certificates, whose CA only the test prefix trusts).

ctest runs each test of this file on its own (one name per ctest test) with the run's prefix and
display; TAVRO_E2E_* name the built program, the probe, the sample release and an output folder
(the screenshots of the finished windows land there).
"""

import filecmp
import hashlib
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import time
import unittest
import zipfile

SOURCE = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "tools" / "drive"))

from installer_ui import DriveError, InstallerWindow, Probe, WineSession, wait_until  # noqa: E402

# API servers on BASE+1..BASE+6 (the program's list), packages on BASE+7.
BASE_PORT = int(os.environ.get("TAVRO_E2E_BASE_PORT", "47310"))
RELEASE_SERVER = SOURCE / "tools" / "release-server" / "release_server.py"
INSTALLER = "Tavro Installer"
UPDATER = "Tavro Updater"
UNINSTALL = "Tavro Uninstall"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavro"
EMAIL = "demo@example.com"


def environment(name):
    value = os.environ.get(name)
    if not value:
        raise unittest.SkipTest(f"{name} is not set: run this through ctest")
    return pathlib.Path(value)


class ReleaseServer:
    """tools/release-server on BASE_PORT, stopped by its own process id."""

    def __init__(self, release, log, certs, api="1.5,silent,1.0,false,down,2.5", rate=None,
                 extra=()):
        arguments = [sys.executable, str(RELEASE_SERVER), "--release", str(release),
                     "--base-port", str(BASE_PORT), "--api", api, "--log", str(log),
                     "--tls-cert", str(certs / "localhost.pem"),
                     "--tls-key", str(certs / "localhost.key")]
        if rate:
            arguments += ["--rate", str(rate)]
        # Signed with the key whose public half TavroInstallerLocal carries (tests/e2e).
        arguments += ["--release-key", str(environment("TAVRO_E2E_RELEASE_KEY")),
                      "--key-id", os.environ["TAVRO_E2E_KEY_ID"], *extra]
        self.log = log
        self.process = subprocess.Popen(arguments, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        for line in self.process.stderr:
            if "release server ready" in line:
                return
        raise RuntimeError(f"the release server did not start (exit {self.process.wait()})")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)

    def requests(self):
        return pathlib.Path(self.log).read_text(encoding="utf-8").splitlines()


class InstallerEndToEnd(unittest.TestCase):
    def setUp(self):
        self.prefix = environment("WINEPREFIX")
        self.installer = environment("TAVRO_E2E_INSTALLER")
        self.release = environment("TAVRO_E2E_RELEASE")
        self.output = environment("TAVRO_E2E_OUTPUT")
        self.output.mkdir(parents=True, exist_ok=True)
        display = environment("TAVRO_DISPLAY_FILE").read_text().strip()
        self.session = WineSession(self.prefix, environment("HOME"), display)
        self.install_root = self.prefix / "drive_c" / "Quendrel" / "Tavro"
        shutil.rmtree(self.install_root.parent, ignore_errors=True)
        self.probe = Probe(self.session, environment("TAVRO_E2E_WINEPROBE"))
        self.addCleanup(self.probe.stop)
        self.programs = []
        self.addCleanup(self.stop_programs)

    def stop_programs(self):
        for title in (INSTALLER, UPDATER, UNINSTALL):
            self.probe.close(title)
        for program in self.programs:
            try:
                program.wait(timeout=15)
            except subprocess.TimeoutExpired:
                program.kill()
                program.wait()
        # The installer's own log outlives the prefix: what a failed test's program did last.
        (self.output / f"{self.id()}.installer-log.txt").write_text(self.log_text())

    def serve(self, **options):
        log = self.output / f"{self.id()}.log"
        log.unlink(missing_ok=True)
        server = ReleaseServer(self.release / "release", log, environment("TAVRO_E2E_CERTS"),
                               **options)
        self.addCleanup(server.stop)
        return server

    def start(self, *arguments):
        program = self.session.start(self.installer, *arguments,
                                     log=self.output / f"{self.id()}.program.log")
        self.programs.append(program)
        return program

    def log_text(self):
        log = self.install_root / "Logs" / "TavroInstaller.log"
        return log.read_text(encoding="utf-8", errors="replace") if log.exists() else ""

    def registry(self, key):
        """What reg.exe shows of a key ("" when it is missing); through a file, never a pipe."""
        out = self.output / f"{self.id()}.reg.txt"
        with open(out, "wb") as file:
            subprocess.run(["wine", "reg", "query", key], env=self.session.env, timeout=60,
                           stdin=subprocess.DEVNULL, stdout=file, stderr=subprocess.STDOUT)
        text = out.read_text(encoding="utf-8", errors="replace")
        return text if "Tavro" in text and "unable" not in text.lower() else ""

    def desktop_links(self):
        return list((self.prefix / "drive_c" / "users").glob("*/Desktop/Tavro.lnk"))

    def product_windows(self):
        found = subprocess.run(["xdotool", "search", "--name", "^Tavro [0-9]"],
                               env=self.session.env, capture_output=True, text=True)
        return found.stdout.split()

    def move_boxes_below(self, window):
        """Moves message boxes of the window's title off the window, for its photograph."""
        found = subprocess.run(["xdotool", "search", "--name", f"^{window.title}$"],
                               env=self.session.env, capture_output=True, text=True)
        for box in found.stdout.split():
            if box != window.window_id:
                self.session.xdotool("windowmove", box, "0", "430")
        time.sleep(1.0)  # the window repaints what the box covered

    def write_record(self, names):
        """An install record as the installer writes it, for files already under the root."""
        lines = ["Tavro install record 1"]
        for name in names:
            data = (self.install_root / name).read_bytes()
            lines.append(f"{hashlib.sha256(data).hexdigest()} {len(data)} {name}")
        (self.install_root / "TavroInstall.record").write_text("\n".join(lines) + "\n")

    def installed_matches_release(self):
        expected = self.release / "release-files"
        for path in expected.rglob("*"):
            if path.is_file():
                target = self.install_root / path.relative_to(expected)
                self.assertTrue(target.is_file(), f"{target} was not installed")
                self.assertTrue(filecmp.cmp(path, target, shallow=False), f"{target} differs")

    def test_download_pause_resume_and_install_with_the_usb_driver(self):
        server = self.serve(rate=2.5)
        self.start()
        window = InstallerWindow(self.session, self.probe, INSTALLER)
        statuses = []

        def server_ok():
            statuses.append(window.texts())
            return "Server OK" in statuses[-1]

        wait_until(server_ok, 20, '"Server OK"', interval=0.1)
        self.assertTrue(any("Checking..." in texts for texts in statuses))
        download = window.button("Download Latest Version")
        self.assertFalse(download.enabled)

        window.type_into(window.edit(), "demo@example")
        self.assertFalse(window.button("Download Latest Version").enabled)
        window.type_into(window.edit(), EMAIL)
        wait_until(lambda: window.button("Download Latest Version").enabled, 5, "Download enabled")
        window.click(download)

        wait_until(lambda: window.label_right_of("Downloaded:") not in ("0 MB", "0.00 MB"), 30,
                   "the downloaded size moving")
        window.click(window.button("Pause"))
        window.wait_for_text("Resume", 5)
        time.sleep(0.5)  # what was in flight arrives
        held = window.label_right_of("Downloaded:")
        time.sleep(1.5)
        self.assertEqual(window.label_right_of("Downloaded:"), held)
        self.assertLess(window.bars()[0], 100)
        window.click(window.button("Resume"))
        window.wait_for_text("Finished!", 60)
        self.assertEqual(window.bars()[0], 100)
        self.assertTrue(window.button("Install").enabled)

        window.click(window.check_box())
        window.click(window.button("Install"))
        window.wait_for_box("zadig-2.3.exe", 60)  # the driver tool runs and is waited for
        self.assertNotIn("Installed!", window.texts())
        self.probe.press_ok("zadig-2.3.exe")
        _, text = window.wait_for_box(INSTALLER, 60)
        self.assertEqual(text, "Install completed.")
        self.probe.press_ok(INSTALLER)
        window.wait_for_text("Installed!", 10)
        self.assertEqual(window.bars(), [100, 100])
        window.screenshot(self.output / "installer.png")
        self.installed_matches_release()

        # The log, the record and the entry in Apps & features.
        log = self.log_text()
        self.assertIn("installer mode, elevated: ", log)
        self.assertIn("d***@example.com", log)
        self.assertNotIn(EMAIL, log)
        self.assertIn("Install completed.", log)
        key_id = os.environ["TAVRO_E2E_KEY_ID"]
        self.assertRegex(log, rf"Release check: signature by key {re.escape(key_id)} verified")
        self.assertRegex(log, r"Release check: not expired \(valid until \d{4}-\d\d-\d\dT")
        record = (self.install_root / "TavroInstall.record").read_text().splitlines()
        self.assertEqual(record[0], "Tavro install record 1")
        self.assertTrue(any(line.endswith(" Tavro.exe") for line in record), record)
        entry = self.registry(UNINSTALL_KEY)
        self.assertIn("Quendrel", entry)
        self.assertIn("--uninstall --quiet", entry)
        kept = self.prefix / "drive_c" / "Program Files" / "Tavro" / "TavroInstaller.exe"
        self.assertTrue(filecmp.cmp(self.installer, kept, shallow=False))

        requests = server.requests()
        self.assertTrue(any("LatestVersion" in line and f"signed by {key_id} until" in line
                            for line in requests), "\n".join(requests))
        ranges = [line for line in requests if "Range: bytes=" in line and "-> 206" in line]
        self.assertEqual(len(ranges), 4, "\n".join(requests))
        # The race, the POST, the HEAD and the ranges all came over TLS 1.2 or newer.
        answered = [line for line in requests if " -> " in line and "no answer" not in line]
        self.assertTrue(any('IsUp -> 200 "true"' in line for line in answered))
        self.assertTrue(any("HEAD /packages/" in line for line in answered))
        for line in answered:
            self.assertRegex(line, r" \[TLSv1\.[23]\]$")

    def answer_box_with_enter(self, window, caption):
        """Presses Enter in the message box with that caption (its OK button is the default)."""
        window.wait_for_box(caption, 60)
        others = {window.window_id}
        box = wait_until(lambda: next((i for i in self.session.find_windows(caption)
                                       if i not in others), None), 10, f'the X window of "{caption}"')
        wait_until(lambda: self.focus_x_window(box), 10, f'the keyboard focus for "{caption}"')
        self.session.xdotool("key", "Return")
        wait_until(lambda: all(b[0] != caption for b in self.probe.boxes()), 10,
                   f'the box "{caption}" closing')

    def focus_x_window(self, window_id):
        try:
            self.session.xdotool("windowfocus", "--sync", window_id)
            return True
        except DriveError:  # not viewable yet
            return False

    # At the DPI ctest sets for it (144, in the DPI prefix): no click anywhere.
    def test_a_whole_install_from_the_keyboard(self):
        self.serve(rate=2.5)
        self.start()
        window = InstallerWindow(self.session, self.probe, INSTALLER)
        window.wait_for_text("Server OK", 20)
        email_id, download_id, pause_id, install_id, usb_id = 1, 2, 3, 4, 5
        window.wait_for_focus(email_id)
        window.type_keys(EMAIL)
        wait_until(lambda: window.edit().text == EMAIL, 10, "the e-mail typed")
        wait_until(lambda: window.button("Download Latest Version").enabled, 5, "Download enabled")
        window.keys("Return")
        wait_until(lambda: window.button("Pause").enabled, 10, "Pause enabled")
        self.assertEqual(window.focused()[1], email_id)
        window.keys("Tab")  # Download is disabled while it runs: Pause is next
        window.wait_for_focus(pause_id)
        window.keys("space")
        window.wait_for_text("Resume", 5)
        window.keys("space")
        window.wait_for_text("Finished!", 60)

        # Pause lost the focus when it was disabled: Tab starts again at the e-mail box.
        window.keys("Tab")
        window.wait_for_focus(email_id)
        for expected in (download_id, install_id, usb_id):
            window.keys("Tab")
            window.wait_for_focus(expected)
        window.keys("space")  # ticks the box: the driver tool's box below shows it took
        window.keys("shift+Tab")
        window.wait_for_focus(install_id)
        window.screenshot(self.output / "installer-keyboard.png")
        window.keys("space")
        self.answer_box_with_enter(window, "zadig-2.3.exe")
        _, text = window.wait_for_box(INSTALLER, 60)
        self.assertEqual(text, "Install completed.")
        self.answer_box_with_enter(window, INSTALLER)
        window.wait_for_text("Installed!", 10)
        self.assertEqual(window.bars(), [100, 100])
        window.screenshot(self.output / "installer.png")
        self.installed_matches_release()

    def test_a_failing_server_check_says_so(self):
        self.serve(api="false,false,false,false,false,false")
        self.start()
        window = InstallerWindow(self.session, self.probe, INSTALLER)
        # No server says true: the check gives up after its 30 s wait, and the box follows.
        _, text = window.wait_for_box(INSTALLER, 45)
        self.assertTrue(text, "the box has a text")
        self.probe.press_ok(INSTALLER)
        window.type_into(window.edit(), EMAIL)
        self.assertFalse(window.button("Download Latest Version").enabled)

    def test_a_download_cut_off_by_the_server_says_so(self):
        server = self.serve(rate=1.0)
        self.start()
        window = InstallerWindow(self.session, self.probe, INSTALLER)
        window.wait_for_text("Server OK", 20)
        window.type_into(window.edit(), EMAIL)
        window.click(window.button("Download Latest Version"))
        wait_until(lambda: window.bars()[0] > 0, 30, "the download bar moving")
        server.stop()
        _, text = window.wait_for_box("Download failed", 60)
        self.assertTrue(text)
        self.probe.press_ok("Download failed")
        self.assertFalse(window.button("Install").enabled)
        self.assertTrue(window.exists())

    def prepare_update(self):
        """The release installed as the install would leave it, the newer one unpacked."""
        shutil.copytree(self.release / "release-files", self.install_root)
        shutil.copytree(self.release / "Update" / "Unpacked",
                        self.install_root / "Update" / "Unpacked")

    def test_updater_applies_the_update_and_closes_itself(self):
        self.prepare_update()
        self.start("--updater")
        window = InstallerWindow(self.session, self.probe, UPDATER)
        window.wait_for_text("Update complete.", 60)
        window.screenshot(self.output / "updater.png")
        wait_until(lambda: not window.exists(), 10, "the updater closing itself")
        new = self.release / "Update" / "Unpacked" / "Tavro.exe"
        self.assertTrue(filecmp.cmp(new, self.install_root / "Tavro.exe", shallow=False))
        # The restarted product says which version runs from where.
        tools = environment("TAVRO_E2E_WINEPROBE").parent
        version = json.loads((tools / "demo-update" / "version.json").read_text())
        title = f"Tavro {version['Version']} (build {version['BuildNumber']})"
        self.session.find_window(re.escape(title), 30)
        shown = wait_until(lambda: self.probe.controls(title), 10, "the product's text")
        self.assertIn("Quendrel", shown[0].text)
        self.probe.close(title)

    def test_a_failed_update_stays_open_with_the_error(self):
        self.install_root.mkdir(parents=True)
        self.start("--updater")
        window = InstallerWindow(self.session, self.probe, UPDATER)
        _, text = window.wait_for_box("Tavro Updater failed", 60)
        self.probe.press_ok("Tavro Updater failed")
        time.sleep(1.5)
        self.assertTrue(window.exists())
        self.assertIn("Update failed.", window.texts())
        error, note = text.split("\n\n", 1)  # the box ends with where the log file is
        self.assertEqual(note, "Details: C:/Quendrel/Tavro/Logs/TavroInstaller.log")
        log = window.edit().text  # the updater's one edit is its log
        self.assertTrue(log.rstrip("\r\n").endswith("ERROR: " + error), log)
        self.assertIn("Update failed: " + error, self.log_text())
        # A failed update is no success to whoever started it.
        self.probe.close(UPDATER)
        wait_until(lambda: "End: exit code" in self.log_text(), 10, "the updater's end")
        self.assertIn("End: exit code 1603", self.log_text())


    def test_uninstall_keeps_the_users_files_and_leaves_nothing_running(self):
        # Installed and updated (the updater writes the record and the links and starts Tavro),
        # then the product makes files of its own.
        self.prepare_update()
        self.start("--updater")
        updater = InstallerWindow(self.session, self.probe, UPDATER)
        wait_until(lambda: not updater.exists(), 60, "the updater closing itself")
        wait_until(self.product_windows, 30, "the product running")
        recording = self.install_root / "RecordedFiles" / "session-1.rec"
        recording.write_bytes(b"the user's own recording")
        self.assertTrue(self.desktop_links())

        program = self.start("--uninstall")
        wait_until(lambda: any(b[0] == UNINSTALL for b in self.probe.boxes()), 30,
                   "the confirmation")
        self.assertTrue(self.probe.press_yes(UNINSTALL))
        wait_until(lambda: not self.probe.boxes(), 10, "the confirmation closing")
        window = InstallerWindow(self.session, self.probe, UNINSTALL)
        _, text = window.wait_for_box(UNINSTALL, 60)
        self.move_boxes_below(window)
        window.screenshot(self.output / "uninstall.png")
        self.assertTrue(text.startswith("Tavro was removed. These were kept:"), text)
        self.assertIn("session-1.rec", text)
        self.assertIn("Uninstall complete.", window.edit().text)
        self.probe.press_ok(UNINSTALL)
        self.assertEqual(program.wait(timeout=30), 0)

        self.assertEqual(recording.read_bytes(), b"the user's own recording")
        for path in (self.release / "Update" / "Unpacked").rglob("*"):
            if path.is_file():
                installed = self.install_root / path.relative_to(self.release / "Update" / "Unpacked")
                self.assertFalse(installed.exists(), f"{installed} was left")
        self.assertFalse((self.install_root / "Ostrilan").exists())
        self.assertEqual(self.desktop_links(), [])
        self.assertEqual(self.registry(r"HKCU\SOFTWARE\Tavro"), "")
        self.assertEqual(self.product_windows(), [])
        self.assertIn("uninstall mode", self.log_text())

    def test_quiet_uninstall_from_a_script_refuses_a_planted_link(self):
        shutil.copytree(self.release / "release-files", self.install_root)
        outside = self.prefix / "drive_c" / "PlantedTarget"
        shutil.rmtree(outside, ignore_errors=True)
        outside.mkdir()
        self.addCleanup(shutil.rmtree, outside, True)
        (outside / "Ostrilan.exe").write_bytes(
            (self.install_root / "Ostrilan" / "Ostrilan.exe").read_bytes())
        shutil.rmtree(self.install_root / "Ostrilan")
        os.symlink(outside, self.install_root / "Ostrilan")  # Wine cannot make links itself
        self.write_record(["Tavro.exe", "Ostrilan/Ostrilan.exe"])

        program = self.start("--uninstall", "--quiet")
        self.assertEqual(program.wait(timeout=120), 0)
        self.assertEqual(self.probe.boxes(), [])
        self.assertFalse((self.install_root / "Tavro.exe").exists())
        self.assertTrue((outside / "Ostrilan.exe").exists(), "the link was followed")
        log = self.log_text()
        self.assertIn("uninstall (quiet) mode", log)
        self.assertIn("Refused: C:/Quendrel/Tavro\\Ostrilan is a link or junction", log)
        self.assertIn("End: exit code 0", log)
        (self.install_root / "Ostrilan").unlink()

    # Deployment: unattended and passive installs, their exit codes, one installer at a time.
    # Wine hands Linux only the low 8 bits of an exit code; the log's last line has all of it.

    def visible_windows(self, *criteria):
        done = subprocess.run(["xdotool", "search", "--onlyvisible", *criteria],
                              env=self.session.env, capture_output=True, text=True)
        return set(done.stdout.split())

    def mapped_windows(self, pid):
        """X windows on screen now that belong to the program or carry a Tavro title."""
        return (self.visible_windows("--pid", str(pid))
                | self.visible_windows("--name", "Tavro|zadig"))

    def run_deployment(self, *arguments, timeout=180):
        """Runs the installer to its end while watching the X server: (exit code as the log
        names it, the log lines of this run, X windows it mapped)."""
        start = len(self.log_text())
        program = self.start(*arguments)
        mapped = set()
        deadline = time.monotonic() + timeout
        while program.poll() is None and time.monotonic() < deadline:
            mapped |= self.mapped_windows(program.pid)
            time.sleep(0.1)
        status = program.wait(timeout=10)
        log = self.log_text()[start:]
        ends = re.findall(r"End: exit code (-?\d+)", log)
        self.assertTrue(ends, log)
        code = int(ends[-1])
        self.assertEqual(status, code % 256, log)
        return code, log, mapped

    def test_quiet_install_installs_everything_and_shows_nothing(self):
        server = self.serve()
        code, log, mapped = self.run_deployment("--quiet", "--email", EMAIL)
        self.assertEqual((code, mapped), (0, set()), log)
        self.installed_matches_release()
        self.assertIn("AppDirectory", self.registry(r"HKCU\SOFTWARE\Tavro"))
        self.assertIn("--uninstall --quiet", self.registry(UNINSTALL_KEY))
        self.assertTrue(self.desktop_links())
        record = (self.install_root / "TavroInstall.record").read_text().splitlines()
        self.assertEqual(record[0], "Tavro install record 1")
        for line in ("installer (quiet) mode", "Status: Server OK", "Status: Finished!",
                     "Install completed.", "Status: Installed!", "End: exit code 0"):
            self.assertIn(line, log)
        self.assertNotIn(EMAIL, log)
        self.assertEqual(self.probe.boxes(), [])
        self.assertEqual(sum("LatestVersion" in line for line in server.requests()), 1)

    def test_lock_down_policy_locks_the_programs_turns_the_updater_away_and_installs_still_update(
            self):
        self.serve()
        policy = r"HKLM\SOFTWARE\Policies\Tavro"
        subprocess.run(["wine", "reg", "add", policy, "/v", "LockDown", "/t", "REG_DWORD", "/d",
                        "1", "/f"], env=self.session.env, check=True, timeout=60,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        self.addCleanup(subprocess.run, ["wine", "reg", "delete", policy, "/f"],
                        env=self.session.env, timeout=60, stdin=subprocess.DEVNULL,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        code, log, _ = self.run_deployment("--quiet", "--email", EMAIL)
        self.assertEqual(code, 0, log)
        self.assertRegex(log, r"Lock-down policy: \d+ program files and folders set to "
                              r"administrators and the system")
        self.installed_matches_release()

        # The updater refuses at once, before it closes or copies anything.
        shutil.copytree(self.release / "Update" / "Unpacked",
                        self.install_root / "Update" / "Unpacked")
        before = (self.install_root / "TavroInstall.record").read_bytes()
        start = len(self.log_text())
        updater = self.start("--updater")
        wait_until(lambda: self.probe.boxes(), 30, "the updater's box")
        caption, text = self.probe.boxes()[0]
        self.assertEqual(caption, INSTALLER)
        self.assertIn("Updates are turned off on this computer by its administrator", text)
        self.probe.press_ok(INSTALLER)
        self.assertEqual(updater.wait(timeout=30), 1625 % 256)
        self.assertIn("End: exit code 1625", self.log_text()[start:])
        self.assertEqual((self.install_root / "TavroInstall.record").read_bytes(), before)

        # The administrator's next quiet install goes over the locked programs.
        code, log, _ = self.run_deployment("--quiet", "--email", EMAIL)
        self.assertEqual(code, 0, log)
        self.assertIn("Install completed.", log)

    def test_quiet_refuses_a_bad_command_line_before_any_traffic_and_names_a_missing_server(self):
        server = self.serve()
        cases = [(("--quiet", "--email", "demo@example"),
                  "the address after --email is not an e-mail address"),
                 (("--quiet",), "no address: --email ADDRESS is needed"),
                 (("/quiet", "/email", EMAIL, "/norestart"), 'unknown switch "/norestart"'),
                 (("--email", EMAIL), "--email and --usb-driver need --quiet or --passive")]
        for arguments, refusal in cases:
            code, log, mapped = self.run_deployment(*arguments)
            self.assertEqual((code, mapped), (87, set()), arguments)
            self.assertIn("Command line refused: " + refusal, log)
        self.assertEqual(server.requests(), [])  # not even the server race
        server.stop()

        self.serve(api="false,false,false,false,false,false")
        code, log, _ = self.run_deployment("--quiet", "--email", EMAIL)
        self.assertEqual(code, 12029, log)
        self.assertIn("Failed (no API server answered): ", log)
        # Passive: the window shows the failure without a box and closes itself with the code.
        code, log, mapped = self.run_deployment("--passive", "--email", EMAIL)
        self.assertEqual(code, 12029, log)
        self.assertIn("Failed (no API server answered): ", log)
        self.assertTrue(mapped, "the passive window was never shown")
        self.assertEqual(self.probe.boxes(), [])

    def test_quiet_failures_of_the_query_the_download_and_the_install(self):
        server = self.serve(extra=("--release-fault", "unsigned"))
        code, log, _ = self.run_deployment("--quiet", "--email", EMAIL)
        self.assertEqual(code, 1612, log)
        self.assertIn("Failed (the latest-version query failed): ", log)
        server.stop()

        server = self.serve(extra=("--corrupt",))
        code, log, _ = self.run_deployment("--quiet", "--email", EMAIL)
        self.assertEqual(code, 1619, log)
        self.assertIn("Failed (the download failed): ", log)
        server.stop()

        self.serve()
        outside = self.prefix / "drive_c" / "PlantedTarget"
        shutil.rmtree(outside, ignore_errors=True)
        outside.mkdir()
        self.addCleanup(shutil.rmtree, outside, True)
        os.symlink(outside, self.install_root / "Ostrilan")  # Wine cannot make links itself
        self.addCleanup(lambda: (self.install_root / "Ostrilan").unlink(missing_ok=True))
        code, log, _ = self.run_deployment("--quiet", "--email", EMAIL)
        self.assertEqual(code, 1603, log)
        self.assertRegex(log, r"Failed \(the install failed\): .*link")
        self.assertEqual(list(outside.iterdir()), [], "the link was followed")

    def test_passive_install_runs_by_itself_while_a_second_installer_is_turned_away(self):
        server = self.serve(rate=2.5)
        passive = self.start("--passive", "--email", EMAIL)
        window = InstallerWindow(self.session, self.probe, INSTALLER)
        wait_until(lambda: window.edit().text == EMAIL, 20, "the address in the field")
        # The X server knows the window by the program's process id, as run_deployment looks.
        self.assertIn(window.window_id, self.visible_windows("--pid", str(passive.pid)))
        wait_until(lambda: window.button("Pause").enabled, 30, "the download started by itself")

        # A deployment tool's run while this one installs: 1618 at once, nothing done.
        started = time.monotonic()
        code, log, mapped = self.run_deployment("--quiet", "--email", EMAIL)
        self.assertEqual((code, mapped - {window.window_id}), (1618, set()), log)
        self.assertLess(time.monotonic() - started, 30)
        self.assertIn("Another installer is running: nothing was done.", log)
        # A person's second start: the running window comes forward, the start ends with 0.
        code, log, _ = self.run_deployment()
        self.assertEqual(code, 0, log)
        self.assertIn("its window was brought to the front", log)
        self.assertEqual(len(self.session.find_windows(INSTALLER)), 1)

        # No box and no click: "Installed!", then the window closes itself.
        wait_until(lambda: "Installed!" in window.texts(), 120, '"Installed!"')
        self.assertEqual(self.probe.boxes(), [])
        self.assertEqual(passive.wait(timeout=30), 0)
        self.installed_matches_release()
        log = self.log_text()
        self.assertIn("installer (passive) mode", log)
        self.assertIn("End: exit code 0", log)
        self.assertEqual(sum("LatestVersion" in line for line in server.requests()), 1)
        self.assertEqual(log.count("Package ready"), 1)

        # Closed by the person watching: cancelled.
        start = len(log)
        closed = self.start("--passive", "--email", EMAIL)
        InstallerWindow(self.session, self.probe, INSTALLER)  # waits for it
        self.probe.close(INSTALLER)
        self.assertEqual(closed.wait(timeout=30), 1602 % 256)
        self.assertIn("End: exit code 1602", self.log_text()[start:])

    def check_many_files(self):
        """Not part of the test run (ctest --preset mingw-many-files, bench/install/README.md):
        the release and its update with TAVRO_MANY_FILES more files of 1 KiB; a passive install
        and the updater over it end with their windows in the right state."""
        count = int(os.environ.get("TAVRO_MANY_FILES", "30000"))
        self.release = release_with_many_files(self.release, self.output / "many-files", count)
        self.serve()
        started = time.monotonic()
        program = self.start("--passive", "--email", EMAIL)
        window = InstallerWindow(self.session, self.probe, INSTALLER)
        seen = []
        wait_until(lambda: seen.append(window.texts()) or "Installed!" in seen[-1], 1800,
                   '"Installed!"', interval=0.5)
        self.assertEqual(window.bars(), [100, 100], seen[-1])
        self.assertEqual(program.wait(timeout=60), 0)
        install_seconds = time.monotonic() - started
        self.assertEqual(self.probe.boxes(), [])
        self.installed_matches_release()
        record = (self.install_root / "TavroInstall.record").read_text().splitlines()
        self.assertGreater(len(record), count)

        shutil.copytree(self.release / "Update" / "Unpacked",
                        self.install_root / "Update" / "Unpacked")
        started = time.monotonic()
        updater = self.start("--updater")
        window = InstallerWindow(self.session, self.probe, UPDATER)
        window.wait_for_text("Update complete.", 1800)
        self.assertEqual(window.bars(), [100])
        self.assertEqual(updater.wait(timeout=60), 0)
        update_seconds = time.monotonic() - started
        extra = self.release / "Update" / "Unpacked" / "ManyFiles"
        for path in list(extra.rglob("*.bin"))[::997]:
            installed = self.install_root / path.relative_to(extra.parent)
            self.assertTrue(filecmp.cmp(path, installed, shallow=False), installed)
        print(f"{count} more files: passive install {install_seconds:.1f} s, exit code 0; "
              f"updater {update_seconds:.1f} s, exit code 0; "
              f"record {len(record)} lines", file=sys.stderr)


def release_with_many_files(release, folder, count):
    """A copy of the test release whose package and update hold count more files of 1 KiB in
    folders of 200 (ManyFiles/d000/f00000.bin ...); the package is stored, not compressed."""
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(release, folder)
    for tree, seed in ((folder / "release-files", 1), (folder / "Update" / "Unpacked", 2)):
        for n in range(count):
            path = tree / "ManyFiles" / f"d{n // 200:03d}" / f"f{n:05d}.bin"
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(hashlib.sha256(b"%d %d" % (seed, n)).digest() * 32)
    manifest = json.loads((folder / "release" / "release.json").read_text())
    package = folder / "release" / manifest["Package"]
    package.unlink()
    with zipfile.ZipFile(package, "w", zipfile.ZIP_STORED) as archive:
        for path in sorted((folder / "release-files").rglob("*")):
            if path.is_file():
                archive.write(path, path.relative_to(folder / "release-files").as_posix())
    return folder


if __name__ == "__main__":
    unittest.main()
