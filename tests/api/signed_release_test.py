"""Signed releases under Wine against the real release server (tools/release-server), with keys
made by tools/release/make-release-key (openssl) when the tests run.

signed_release_probe.exe runs the installer's query and download with the test's key handed in
on its command line; the server signs with the private key, or misbehaves as told. ctest runs
each test on its own with the run's prefix; SIGNED_* name the probe and a base port.
"""

import hashlib
import json
import os
import pathlib
import random
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = pathlib.Path(__file__).resolve().parents[2]
RELEASE_SERVER = SOURCE / "tools" / "release-server" / "release_server.py"
MAKE_KEY = SOURCE / "tools" / "release" / "make-release-key"
PACKAGE_SIZE = 3 * 1024 * 1024 + 17  # above the threshold for four parts
VERSION, BUILD = "5.2.0", "731"
KEY_ID = "test-1"
REFUSED = "LatestVersion failed: "


def environment(name):
    value = os.environ.get(name)
    if not value:
        raise unittest.SkipTest(f"{name} is not set: run this through ctest")
    return value


def make_key(folder, key_id):
    """(private key file, KEYID=BASE64 line) of a fresh key."""
    key_file = pathlib.Path(folder) / f"{key_id}.pem"
    line = subprocess.run([str(MAKE_KEY), str(key_file), key_id], check=True,
                          capture_output=True, text=True).stdout.strip()
    return key_file, line


class SignedRelease(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.probe = environment("SIGNED_PROBE")
        cls.base_port = int(environment("SIGNED_BASE_PORT"))
        cls.prefix = pathlib.Path(environment("WINEPREFIX"))
        cls.folder = tempfile.TemporaryDirectory()
        folder = pathlib.Path(cls.folder.name)
        cls.content = random.Random(20).randbytes(PACKAGE_SIZE)
        cls.package_name = f"Tavro-{VERSION}-{BUILD}.zip"  # as the server names it
        (folder / "release").mkdir()
        (folder / "release" / cls.package_name).write_bytes(cls.content)
        (folder / "release" / "release.json").write_text(json.dumps(
            {"Version": VERSION, "BuildNumber": BUILD, "Package": cls.package_name}))
        cls.sha256 = hashlib.sha256(cls.content).hexdigest()
        cls.key_file, cls.key_line = make_key(folder, KEY_ID)
        cls.other_key_file, cls.other_key_line = make_key(folder, "other-1")

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def setUp(self):
        self.download_folder = self.prefix / "drive_c" / "Quendrel" / "Tavro" / "tmp"
        shutil.rmtree(self.download_folder, ignore_errors=True)
        self.set_floor(None)
        self.addCleanup(self.set_floor, None)

    def wine(self, *arguments):
        subprocess.run(["wine", *arguments], check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def set_value(self, key, name, build, kind="REG_SZ"):
        """Writes (or with None removes) a value in the prefix's registry."""
        if build is None:
            subprocess.run(["wine", "reg", "delete", key, "/v", name, "/f"],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        else:
            self.wine("reg", "add", key, "/v", name, "/t", kind, "/d", build, "/f")

    def set_floor(self, build, kind="REG_SZ"):
        self.set_value(r"HKLM\SOFTWARE\Tavro", "BuildFloor", build, kind)

    def floor(self):
        found = subprocess.run(["wine", "reg", "query", r"HKLM\SOFTWARE\Tavro", "/v",
                                "BuildFloor"], stdin=subprocess.DEVNULL, capture_output=True,
                               text=True, timeout=60).stdout
        match = re.search(r"BuildFloor\s+REG_SZ\s+(\S+)", found)
        return match.group(1) if match else None

    def serve(self, fault=None, key_file=None, key_id=KEY_ID):
        """The release server, signing with the test key (or key_file) and fault; its log. The
        one started before in the same test stops first (they share the ports)."""
        if getattr(self, "stop_server", None):
            self.stop_server()
        log = pathlib.Path(self.folder.name) / f"{self.id()}.log"
        log.unlink(missing_ok=True)
        arguments = [sys.executable, str(RELEASE_SERVER),
                     "--release", str(pathlib.Path(self.folder.name) / "release"),
                     "--base-port", str(self.base_port), "--api", "0,0,0,0,0,0",
                     "--log", str(log), "--release-key", str(key_file or self.key_file),
                     "--key-id", key_id]
        if fault:
            arguments += ["--release-fault", fault]
        server = subprocess.Popen(arguments, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE, text=True)
        for line in server.stderr:
            if "release server ready" in line:
                break
        else:
            raise RuntimeError(f"the release server did not start (exit {server.wait()})")

        def stop():
            if server.poll() is None:
                server.terminate()
                server.wait(timeout=10)
                server.stderr.close()
        self.stop_server = stop
        self.addCleanup(stop)
        return log

    def run_probe(self, *options, keys=None):
        """What the probe wrote: {"log": [...], "release": ..., "error": ..., ...}."""
        out = pathlib.Path(self.folder.name) / "probe.txt"
        out.unlink(missing_ok=True)
        arguments = [self.probe, str(out), f"http://127.0.0.1:{self.base_port + 1}"]
        for key in [self.key_line] if keys is None else keys:
            arguments += ["--key", key]
        self.wine(*arguments, *options)
        result = {"log": []}
        for line in out.read_text(encoding="utf-8").splitlines():
            name, _, value = line.partition(": ")
            if name == "log":
                result["log"].append(value)
            else:
                result[name] = value
        return result

    def package_requests(self, log):
        return [line for line in log.read_text().splitlines() if "/packages/" in line]

    def assert_refused(self, fault, expected, **serve_options):
        log = self.serve(fault, **serve_options)
        result = self.run_probe("--download")
        if isinstance(expected, re.Pattern):
            self.assertRegex(result.get("error", ""), expected)
        else:
            self.assertEqual(result.get("error"), expected)
        self.assertNotIn("release", result)
        self.assertEqual(self.package_requests(log), [], "nothing is fetched after a refusal")
        self.assertFalse(self.download_folder.exists() and any(self.download_folder.iterdir()))

    # --- tests -------------------------------------------------------------------------------

    def test_a_good_signature_passes_and_the_package_downloads(self):
        self.serve()
        result = self.run_probe("--download", "--time-verify", "200", keys=[self.other_key_line,
                                                                             self.key_line])
        self.assertEqual(result.get("release"), f"{VERSION} {BUILD} {self.sha256} {PACKAGE_SIZE}",
                         result)
        packages = list(self.download_folder.iterdir())
        self.assertEqual(len(packages), 1, packages)
        self.assertTrue(result.get("package", "").endswith("\\" + packages[0].name), result)
        self.assertEqual(packages[0].read_bytes(), self.content)
        log = "\n".join(result["log"])
        self.assertRegex(log, rf"signature by key {KEY_ID} verified \(version {VERSION}, build "
                              rf"{BUILD}, {PACKAGE_SIZE} bytes, SHA-256 {self.sha256}\)")
        self.assertRegex(log, r"not expired \(valid until \d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ, now ")
        self.assertIn("no rollback floor recorded yet, no rollback check made", log)
        self.assertIn("Download parts: 4", log)
        microseconds = float(result["verify"])
        print(f"one whole check of a signed reply: {microseconds:.0f} us", file=sys.stderr)
        self.assertLess(microseconds, 1000)

    def test_each_refusal_has_its_own_text_and_nothing_is_downloaded(self):
        does_not_verify = REFUSED + f"the release signature does not verify with key {KEY_ID}"
        cases = [
            ("unsigned", REFUSED + "the release is not signed: the reply has no Signature"),
            ("missing-member", REFUSED + "the signed release has no PackageSize"),
            ("wrong-key", does_not_verify),
            ("tamper-version", does_not_verify),
            ("tamper-build", does_not_verify),
            ("tamper-sha256", does_not_verify),
            ("tamper-size", does_not_verify),
            ("tamper-expires", does_not_verify),
            ("der-signature", REFUSED + "the release signature is not 64 bytes of r and s in base64"),
            ("expired", re.compile("^" + re.escape(REFUSED) + r"the signed release expired at "
                                   r"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ); the time now is "
                                   r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")),
        ]
        for fault, expected in cases:
            with self.subTest(fault=fault):
                self.assert_refused(fault, expected)

    def test_a_key_the_installer_does_not_know_is_refused(self):
        self.assert_refused(None, REFUSED + "the release is signed with key other-1, which this "
                                            "installer does not know",
                            key_file=self.other_key_file, key_id="other-1")

    def test_a_host_size_other_than_the_signed_size_fails_before_any_byte(self):
        log = self.serve("wrong-size")
        result = self.run_probe("--download")
        self.assertEqual(result.get("error"),
                         f"Download failed: the package host gives a size of {PACKAGE_SIZE} bytes; "
                         f"the release is signed for {PACKAGE_SIZE + 1} bytes")
        requests = self.package_requests(log)
        self.assertEqual(len(requests), 1, requests)
        self.assertIn("HEAD", requests[0])
        self.assertFalse(self.download_folder.exists() and any(self.download_folder.iterdir()))

    def test_a_host_that_sends_more_than_the_signed_size_fails_without_writing_beyond_it(self):
        self.serve("endless-package")
        result = self.run_probe("--download")
        self.assertEqual(result.get("error"), "Download failed: the host sends more than the "
                                              f"{PACKAGE_SIZE} bytes expected")
        for leftover in self.download_folder.iterdir():
            self.assertTrue(leftover.name.endswith((".temp", ".part0", ".part1", ".part2",
                                                    ".part3")), leftover.name)
            self.assertLessEqual(leftover.stat().st_size, PACKAGE_SIZE, leftover.name)

    def test_rollback_floor_only_administrators_write_refuses_older_builds_and_fails_closed(self):
        self.serve()
        newer = str(int(BUILD) + 1)
        older = f"the signed release is build {BUILD}, older than the rollback floor {newer}"
        self.set_floor(newer)
        # The user's own values play no part: deleted or garbled, the floor still holds.
        for user_value in (None, "a word"):
            with self.subTest(user_value=user_value):
                self.set_value(r"HKCU\SOFTWARE\Tavro", "BuildNumber", user_value)
                self.assertEqual(self.run_probe().get("error"), REFUSED + older)
        for floor, kind in (("seven", "REG_SZ"), ("7.1", "REG_SZ"), ("731", "REG_DWORD")):
            with self.subTest(floor=floor, kind=kind):
                self.set_floor(floor, kind)
                result = self.run_probe()
                self.assertRegex(result.get("error", ""), "is not a decimal number$")
        for floor, note in ((BUILD, f"build {BUILD} is not older than the rollback floor"),
                            ("0" + str(int(BUILD) - 1), "is not older than the rollback floor"),
                            (None, "no rollback floor recorded yet")):
            with self.subTest(floor=floor):
                self.set_floor(floor)
                result = self.run_probe()
                self.assertIn("release", result, result)
                self.assertIn(note, "\n".join(result["log"]))

    def test_an_accepted_build_raises_the_floor_and_nothing_lowers_it(self):
        self.serve()
        for before, after in ((None, BUILD), ("0700", BUILD), (BUILD, BUILD)):
            with self.subTest(before=before):
                self.set_floor(before)
                result = self.run_probe("--raise-floor")
                self.assertEqual(result.get("floor"), "raised", result)
                self.assertEqual(self.floor(), after)
        # A floor above the release refuses it before anything could lower the floor.
        self.set_floor("9000")
        self.assertIn("error", self.run_probe("--raise-floor"))
        self.assertEqual(self.floor(), "9000")


if __name__ == "__main__":
    unittest.main()
