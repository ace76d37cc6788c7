"""The installer end to end, as a person uses it: TavroInstallerLocal.exe (the program with an API
server list at 127.0.0.1) under Wine on the test run's Xvfb, clicked and typed into with xdotool,
read back through winprobe, against the real local release server, over HTTPS as in production
(the release server uses the test run's certificates, whose CA only the test prefix trusts).

ctest runs each test of this file on its own (one name per ctest test) with the run's prefix and
display; TAVRO_E2E_* name the built program, the probe, the sample release and an output folder
(the screenshots of the finished windows land there).
"""

import filecmp
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import time
import unittest

SOURCE = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "tools" / "drive"))

from installer_ui import DriveError, InstallerWindow, Probe, WineSession, wait_until  # noqa: E402

# API servers on BASE+1..BASE+6 (the program's list), packages on BASE+7.
BASE_PORT = int(os.environ.get("TAVRO_E2E_BASE_PORT", "47310"))
RELEASE_SERVER = SOURCE / "tools" / "release-server" / "release_server.py"
INSTALLER = "Tavro Installer"
UPDATER = "Tavro Updater"
EMAIL = "demo@example.com"


def environment(name):
    value = os.environ.get(name)
    if not value:
        raise unittest.SkipTest(f"{name} is not set: run this through ctest")
    return pathlib.Path(value)


class ReleaseServer:
    """tools/release-server on BASE_PORT, stopped by its own process id."""

    def __init__(self, release, log, certs, api="1.5,silent,1.0,false,down,2.5", rate=None):
        arguments = [sys.executable, str(RELEASE_SERVER), "--release", str(release),
                     "--base-port", str(BASE_PORT), "--api", api, "--log", str(log),
                     "--tls-cert", str(certs / "localhost.pem"),
                     "--tls-key", str(certs / "localhost.key")]
        if rate:
            arguments += ["--rate", str(rate)]
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
        for title in (INSTALLER, UPDATER):
            self.probe.close(title)
        for program in self.programs:
            try:
                program.wait(timeout=15)
            except subprocess.TimeoutExpired:
                program.kill()
                program.wait()

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

        requests = server.requests()
        self.assertTrue(any("LatestVersion" in line for line in requests))
        ranges = [line for line in requests if "Range: bytes=" in line and "-> 206" in line]
        self.assertEqual(len(ranges), 4, "\n".join(requests))
        # The race, the POST, the HEAD and the ranges all came over TLS 1.2 or newer.
        answered = [line for line in requests if " -> " in line and "no answer" not in line]
        self.assertTrue(any('IsUp -> 200 "true"' in line for line in answered))
        self.assertTrue(any("HEAD /packages/" in line for line in answered))
        for line in answered:
            self.assertRegex(line, r" \[TLSv1\.[23]\]$")

    def test_a_failing_server_check_says_so(self):
        self.serve(api="false,false,false,false,false,false")
        self.start()
        window = InstallerWindow(self.session, self.probe, INSTALLER)
        _, text = window.wait_for_box(INSTALLER, 30)
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
        log = window.edit().text  # the updater's one edit is its log
        self.assertTrue(log.rstrip("\r\n").endswith("ERROR: " + text), log)


if __name__ == "__main__":
    unittest.main()
