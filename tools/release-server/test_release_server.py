"""Tests of the local release server: protocol, byte ranges, bad request bodies, the log.

    python3 -m unittest discover -s tools/release-server
"""

import base64
import contextlib
import hashlib
import http.client
import io
import json
import os
import random
import socket
import ssl
import subprocess
import tempfile
import threading
import time
import unittest
import warnings

import release_server as rs

MAKE_CERTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tls",
                          "make-test-certs.sh")

MAKE_KEY = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "release",
                        "make-release-key")
CHUNK_BYTES = 64 * 1024
PACKAGE_SIZE = 3 * 1024 * 1024 + 123  # not a multiple of four, like a real package
GOOD_BODY = {"PcSerialNumber": "PC-1", "Email": "demo@example.com",
             "PcInformation": "ComputerName:PC", "SoftwareName": "Tavro"}


class CollectingStream(io.StringIO):
    def lines(self):
        return self.getvalue().splitlines()


class ReleaseServerTest(unittest.TestCase):
    behaviours = "0,silent,0.3,false,down,0"
    corrupt = False

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.content = random.Random(7).randbytes(PACKAGE_SIZE)
        with open(os.path.join(cls.folder.name, "Tavro-4.1.0.zip"), "wb") as package:
            package.write(cls.content)
        with open(os.path.join(cls.folder.name, "release.json"), "w") as manifest:
            json.dump({"Version": "4.1.0", "BuildNumber": "812", "Package": "Tavro-4.1.0.zip"},
                      manifest)
        cls.release = rs.Release.load(cls.folder.name)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def setUp(self):
        self.stream = CollectingStream()
        self.servers = rs.ReleaseServers(
            self.release, [rs.Behaviour.parse(b) for b in self.behaviours.split(",")],
            rs.RequestLog(self.stream), corrupt=self.corrupt)
        self.servers.start()

    def tearDown(self):
        self.servers.stop()

    def request(self, port, method, path, body=None, headers=None, timeout=5):
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    def api(self, index, method, path, body=None, **options):
        return self.request(self.servers.api_ports[index], method, path, body, **options)

    def package(self, method="GET", range_header=None):
        headers = {"Range": range_header} if range_header is not None else {}
        return self.request(self.servers.package_port, method,
                            "/packages/Tavro-4.1.0.zip", headers=headers)

    def wait_for_log_lines(self, count):
        deadline = time.monotonic() + 5
        while len(self.stream.lines()) < count and time.monotonic() < deadline:
            time.sleep(0.02)
        return self.stream.lines()


class ProtocolTest(ReleaseServerTest):
    def test_is_up_follows_each_servers_behaviour(self):
        self.assertEqual(self.api(0, "GET", "/api/Tavro/IsUp")[::2], (200, b"true"))
        self.assertEqual(self.api(3, "GET", "/api/Tavro/IsUp")[::2], (200, b"false"))
        started = time.monotonic()
        self.assertEqual(self.api(2, "GET", "/api/Tavro/IsUp")[::2], (200, b"true"))
        self.assertGreaterEqual(time.monotonic() - started, 0.3)
        with self.assertRaises(socket.timeout):
            self.api(1, "GET", "/api/Tavro/IsUp", timeout=0.5)
        with self.assertRaises(ConnectionRefusedError):
            self.api(4, "GET", "/api/Tavro/IsUp")
        lines = self.wait_for_log_lines(4)
        self.assertEqual(len(lines), 4)
        self.assertRegex(lines[2], r"api3 +:\d+  GET  /api/Tavro/IsUp -> 200 \"true\" after 0\.3")
        self.assertRegex(lines[3], r"api2 .* -> no answer \(client left\)")

    def test_latest_version_names_the_package_on_the_package_server(self):
        status, headers, body = self.api(0, "POST", "/api/Software/LatestVersion",
                                         json.dumps(GOOD_BODY),
                                         headers={"Content-Type": "application/json"})
        self.assertEqual(status, 200)
        self.assertEqual(headers["Content-Type"], "application/json")
        self.assertEqual(json.loads(body), {
            "FileName": f"http://127.0.0.1:{self.servers.package_port}/packages/Tavro-4.1.0.zip",
            "Version": "4.1.0", "BuildNumber": "812",
            "Sha256": hashlib.sha256(self.content).hexdigest()})
        self.assertIn('Email="demo@example.com" -> 200 Tavro-4.1.0.zip 4.1.0 build 812',
                      self.wait_for_log_lines(1)[0])

    def test_bad_latest_version_bodies_get_400_saying_what_is_wrong(self):
        cases = [
            (b"", "the body is not JSON"),
            (b"\xff\xfe{}", "the body is not UTF-8 text"),
            (b"{\"Email\": ", "the body is not JSON"),
            (b"[1, 2]", "the body is a JSON array, not an object"),
            (json.dumps({"Email": "a@b.c", "SoftwareName": "Tavro"}).encode(),
             "members PcSerialNumber, PcInformation are missing"),
            (json.dumps({k: v for k, v in GOOD_BODY.items() if k != "Email"}).encode(),
             "member Email is missing"),
            (json.dumps(dict(GOOD_BODY, Email=None)).encode(),
             "member Email is a null, not a string"),
            (json.dumps(dict(GOOD_BODY, PcSerialNumber=42)).encode(),
             "member PcSerialNumber is a number, not a string"),
        ]
        for body, problem in cases:
            with self.subTest(body=body):
                status, _, answer = self.api(0, "POST", "/api/Software/LatestVersion", body)
                self.assertEqual(status, 400)
                self.assertTrue(answer.decode().startswith(f"Bad LatestVersion request: {problem}"),
                                answer)
                self.assertIn("PcSerialNumber, Email, PcInformation, SoftwareName", answer.decode())

    def test_wrong_methods_and_paths(self):
        status, headers, _ = self.api(0, "GET", "/api/Software/LatestVersion")
        self.assertEqual((status, headers["Allow"]), (405, "POST"))
        self.assertEqual(self.api(0, "POST", "/api/Tavro/IsUp", b"x")[0], 405)
        self.assertEqual(self.api(0, "GET", "/packages/Tavro-4.1.0.zip")[0], 404)
        self.assertEqual(self.request(self.servers.package_port, "GET", "/packages/other.zip")[0],
                         404)
        big = b"x" * (rs.MAX_REQUEST_BODY + 1)
        self.assertEqual(self.api(0, "POST", "/api/Software/LatestVersion", big)[0], 413)

    def test_absolute_request_targets_name_the_same_resources(self):
        # What a client behind a proxy may send, through a tunnel as well.
        port = self.servers.api_ports[0]
        self.assertEqual(self.api(0, "GET", f"http://127.0.0.1:{port}/api/Tavro/IsUp")[::2],
                         (200, b"true"))
        status, _, body = self.request(
            self.servers.package_port, "GET",
            f"https://localhost:{self.servers.package_port}/packages/Tavro-4.1.0.zip")
        self.assertEqual((status, body), (200, self.content))


class RangeTest(ReleaseServerTest):
    def test_head_and_whole_file(self):
        status, headers, body = self.package("HEAD")
        self.assertEqual((status, body), (200, b""))
        self.assertEqual(headers["Content-Length"], str(PACKAGE_SIZE))
        self.assertEqual(headers["Accept-Ranges"], "bytes")
        status, headers, body = self.package()
        self.assertEqual(status, 200)
        self.assertEqual(body, self.content)

    def test_four_ranges_as_the_installer_asks_make_up_the_file(self):
        part = PACKAGE_SIZE // 4
        bounds = [(i * part, (i + 1) * part - 1) for i in range(3)] + [(3 * part, PACKAGE_SIZE - 1)]
        joined = b""
        for first, last in bounds:
            status, headers, body = self.package(range_header=f"bytes={first}-{last}")
            self.assertEqual(status, 206)
            self.assertEqual(headers["Content-Range"], f"bytes {first}-{last}/{PACKAGE_SIZE}")
            self.assertEqual(int(headers["Content-Length"]), last - first + 1)
            joined += body
        self.assertEqual(joined, self.content)
        lines = self.wait_for_log_lines(4)
        self.assertRegex(lines[3], rf"Range: bytes={3 * part}-{PACKAGE_SIZE - 1} -> 206, "
                                   rf"{PACKAGE_SIZE - 3 * part} bytes")

    def test_open_suffix_clipped_and_outside_ranges(self):
        size = PACKAGE_SIZE
        cases = [
            ("bytes=100-", 206, 100, size - 1),
            ("bytes=-10", 206, size - 10, size - 1),
            ("bytes=-999999999", 206, 0, size - 1),
            (f"bytes={size - 5}-{size + 100}", 206, size - 5, size - 1),
            (f"bytes={size}-{size + 10}", 416, None, None),
            (f"bytes={size}-", 416, None, None),
            ("bytes=-0", 416, None, None),
            ("bytes=5-2", 200, 0, size - 1),        # not well formed: ignored
            ("bytes=0-1,4-5", 200, 0, size - 1),    # several ranges: ignored
            ("items=0-1", 200, 0, size - 1),        # another unit: ignored
        ]
        for header, expected, first, last in cases:
            with self.subTest(range=header):
                status, headers, body = self.package(range_header=header)
                self.assertEqual(status, expected)
                if expected == 416:
                    self.assertEqual(headers["Content-Range"], f"bytes */{size}")
                    self.assertIn("outside the file", body.decode())
                else:
                    self.assertEqual(body, self.content[first:last + 1])

    def test_bandwidth_cap_per_connection(self):
        self.servers.stop()
        self.servers = rs.ReleaseServers(self.release, [rs.Behaviour("delay")] * 6,
                                         rs.RequestLog(self.stream), bytes_per_second=4 << 20)
        self.servers.start()
        results = []

        def fetch(first):
            results.append(self.package(range_header=f"bytes={first}-{first + (1 << 20) - 1}"))

        started = time.monotonic()
        threads = [threading.Thread(target=fetch, args=(i << 20,)) for i in range(3)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        elapsed = time.monotonic() - started
        # 1 MiB at 4 MiB/s takes 0.25 s; three connections in parallel are capped each, not together.
        self.assertGreaterEqual(elapsed, 0.24)
        self.assertLess(elapsed, 0.6)
        self.assertEqual(sorted(len(r[2]) for r in results), [1 << 20] * 3)


class CorruptPackageTest(ReleaseServerTest):
    corrupt = True

    def test_same_size_with_one_block_inverted(self):
        status, _, body = self.package()
        self.assertEqual((status, len(body)), (200, PACKAGE_SIZE))
        middle = PACKAGE_SIZE // 2
        self.assertEqual(body[:middle], self.content[:middle])
        self.assertEqual(body[middle + rs.CORRUPT_BLOCK:], self.content[middle + rs.CORRUPT_BLOCK:])
        inverted = bytes(b ^ 0xFF for b in self.content[middle:middle + rs.CORRUPT_BLOCK])
        self.assertEqual(body[middle:middle + rs.CORRUPT_BLOCK], inverted)
        # A range across the block's start sees the same bytes as the whole file.
        status, _, part = self.package(range_header=f"bytes={middle - 10}-{middle + 9}")
        self.assertEqual(part, body[middle - 10:middle + 10])


class TlsTest(ReleaseServerTest):
    """The same servers over HTTPS with certificates of a test CA made for this test."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.certs = os.path.join(cls.folder.name, "certs")
        subprocess.run([MAKE_CERTS, cls.certs], check=True)

    def setUp(self):
        self.stream = CollectingStream()
        self.servers = rs.ReleaseServers(
            self.release, [rs.Behaviour("delay")] * 6, rs.RequestLog(self.stream),
            tls=rs.tls_context(self.cert("localhost.pem"), self.cert("localhost.key")))
        self.servers.start()

    def cert(self, name):
        return os.path.join(self.certs, name)

    def trusting(self, **versions):
        context = ssl.create_default_context(cafile=self.cert("ca.pem"))
        for name, value in versions.items():
            setattr(context, name, value)
        return context

    def https(self, port, path, context, method="GET"):
        connection = http.client.HTTPSConnection("localhost", port, timeout=5, context=context)
        try:
            connection.request(method, path)
            response = connection.getresponse()
            return response.status, response.read(), connection.sock.version()
        finally:
            connection.close()

    def test_urls_name_localhost_and_requests_log_the_protocol(self):
        self.assertTrue(all(url.startswith("https://localhost:") for url in self.servers.api_urls()))
        self.assertEqual(self.servers.package_url,
                         f"https://localhost:{self.servers.package_port}/packages/Tavro-4.1.0.zip")
        status, body, version = self.https(self.servers.api_ports[0], "/api/Tavro/IsUp",
                                           self.trusting())
        self.assertEqual((status, body, version), (200, b"true", "TLSv1.3"))
        status, body, _ = self.https(self.servers.package_port, "/packages/Tavro-4.1.0.zip",
                                     self.trusting(maximum_version=ssl.TLSVersion.TLSv1_2))
        self.assertEqual((status, body), (200, self.content))
        lines = self.wait_for_log_lines(2)
        self.assertTrue(lines[0].endswith("[TLSv1.3]"), lines[0])
        self.assertTrue(lines[1].endswith("[TLSv1.2]"), lines[1])

    def test_a_client_that_refuses_the_certificate_leaves_a_handshake_line(self):
        with self.assertRaises(ssl.SSLCertVerificationError):
            self.https(self.servers.api_ports[0], "/api/Tavro/IsUp",
                       ssl.create_default_context())  # the host's CAs: not the test CA
        lines = self.wait_for_log_lines(1)
        self.assertRegex(lines[0], r"api1 +:\d+  TLS handshake failed: ")

    def test_bad_certificates_are_refused_by_a_client_that_trusts_the_test_ca(self):
        for name, reason in (("self-signed", "self-signed"), ("other-host", "Hostname mismatch"),
                             ("expired", "expired"), ("not-yet-valid", "not yet valid")):
            with self.subTest(certificate=name):
                listener = rs.Listener(0, name, self.servers._listeners[0].config,
                                       tls=rs.tls_context(self.cert(f"{name}.pem"),
                                                          self.cert(f"{name}.key")))
                thread = threading.Thread(target=listener.serve_forever, daemon=True)
                thread.start()
                try:
                    with self.assertRaisesRegex(ssl.SSLCertVerificationError, reason):
                        self.https(listener.server_address[1], "/", self.trusting())
                finally:
                    listener.shutdown()
                    listener.server_close()

    def test_old_protocols_can_still_be_offered(self):
        # What a server stuck at TLS 1.0 or 1.1 looks like; OpenSSL allows it at level 0 only.
        old = rs.tls_context(self.cert("localhost.pem"), self.cert("localhost.key"),
                             minimum=ssl.TLSVersion.TLSv1, maximum=ssl.TLSVersion.TLSv1_1)
        listener = rs.Listener(0, "old", self.servers._listeners[0].config, tls=old)
        thread = threading.Thread(target=listener.serve_forever, daemon=True)
        thread.start()
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", DeprecationWarning)
                client = self.trusting(minimum_version=ssl.TLSVersion.TLSv1)
            client.set_ciphers("DEFAULT:@SECLEVEL=0")
            status, _, version = self.https(listener.server_address[1], "/", client)
            self.assertEqual((status, version), (404, "TLSv1.1"))
            with self.assertRaises(ssl.SSLError):
                self.https(listener.server_address[1], "/", self.trusting())
        finally:
            listener.shutdown()
            listener.server_close()


class SigningTest(ReleaseServerTest):
    """The signed answer, made with a key made now by tools/release/make-release-key."""

    fault = ""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        import release_signing
        cls.signing_module = release_signing
        cls.key_file = os.path.join(cls.folder.name, "key.pem")
        subprocess.run([MAKE_KEY, cls.key_file, "test-key"], check=True, capture_output=True)
        cls.public_key = release_signing.load_private_key(cls.key_file).public_key()

    def setUp(self):
        self.servers_signing = {}
        super().setUp()

    def answer(self, fault=""):
        self.servers.stop()
        self.servers = rs.ReleaseServers(
            self.release, [rs.Behaviour.parse(b) for b in self.behaviours.split(",")],
            rs.RequestLog(self.stream), signing=rs.Signing(self.key_file, "test-key", 10, fault))
        self.servers.start()
        status, _, body = self.api(0, "POST", "/api/Software/LatestVersion", json.dumps(GOOD_BODY))
        self.assertEqual(status, 200)
        return json.loads(body)

    def verifies(self, reply):
        text = self.signing_module.statement_text(reply["Version"], reply["BuildNumber"],
                                                  reply["Sha256"], reply["PackageSize"],
                                                  reply["Expires"])
        return self.signing_module.verify(self.public_key, text, reply["Signature"])

    def test_a_signed_answer_verifies_and_names_key_size_and_expiry(self):
        reply = self.answer()
        self.assertEqual((reply["KeyId"], reply["PackageSize"]), ("test-key", str(PACKAGE_SIZE)))
        self.assertRegex(reply["Expires"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        self.assertTrue(self.verifies(reply))
        self.assertIn(f"signed by test-key until {reply['Expires']}", self.wait_for_log_lines(1)[0])

    def test_each_fault_breaks_exactly_what_it_says(self):
        self.assertNotIn("Signature", self.answer("unsigned"))
        self.assertNotIn("PackageSize", self.answer("missing-member"))
        for fault in ("wrong-key", "tamper-version", "tamper-build", "tamper-sha256",
                      "tamper-size", "tamper-expires"):
            with self.subTest(fault=fault):
                self.assertFalse(self.verifies(self.answer(fault)))
        der = self.answer("der-signature")
        self.assertNotEqual(len(base64.b64decode(der["Signature"])), 64)
        expired = self.answer("expired")
        self.assertTrue(self.verifies(expired))
        self.assertLess(expired["Expires"], time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()))
        wrong_size = self.answer("wrong-size")
        self.assertTrue(self.verifies(wrong_size))
        self.assertEqual(wrong_size["PackageSize"], str(PACKAGE_SIZE + 1))

    def test_an_endless_package_announces_the_size_but_sends_more(self):
        self.answer("endless-package")
        _, headers, _ = self.package("HEAD")
        self.assertEqual(headers["Content-Length"], str(PACKAGE_SIZE))
        connection = socket.create_connection(("127.0.0.1", self.servers.package_port), timeout=5)
        with connection:
            connection.sendall(b"GET /packages/Tavro-4.1.0.zip HTTP/1.1\r\nHost: x\r\n"
                               b"Range: bytes=0-99\r\n\r\n")
            received = b""
            while len(received) < PACKAGE_SIZE + 2 * CHUNK_BYTES:
                received += connection.recv(1 << 20)
        head, _, body = received.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.1 200"))
        self.assertNotIn(b"Content-Length", head)
        self.assertGreater(len(body), PACKAGE_SIZE)
        self.assertEqual(body[:PACKAGE_SIZE], self.content)


class ArgumentTest(unittest.TestCase):
    def test_behaviours_and_release_folder_are_checked(self):
        self.assertEqual(rs.Behaviour.parse(" 1.5"), rs.Behaviour("delay", 1.5))
        for text in ("slow", "-1"):
            with self.assertRaises(ValueError):
                rs.Behaviour.parse(text)
        with tempfile.TemporaryDirectory() as folder:
            with self.assertRaisesRegex(ValueError, "cannot read .*release.json"):
                rs.Release.load(folder)
            with open(os.path.join(folder, "release.json"), "w") as manifest:
                json.dump({"Version": "1", "BuildNumber": "2", "Package": "../x.zip"}, manifest)
            with self.assertRaisesRegex(ValueError, "file in the release folder"):
                rs.Release.load(folder)

    def test_signing_options_go_together(self):
        for extra in (["--key-id", "k"], ["--release-fault", "unsigned"]):
            with self.subTest(extra=extra), contextlib.redirect_stderr(io.StringIO()):
                with self.assertRaises(SystemExit):
                    rs.parse_arguments(["--release", "r", "--base-port", "40000", *extra])


if __name__ == "__main__":
    unittest.main()
