"""The engine's requests through the proxy the user's settings name, against a real proxy
(Debian's tinyproxy) and the real release server (tools/release-server), under Wine.

proxy_client.exe (built from proxy_client.cpp) runs the server check over six API servers, the
latest-version query and the package download (HEAD and four ranges), and prints its log and
diagnostics lines. Each test writes the user's proxy settings into the test prefix
(HKCU\\...\\Internet Settings\\Connections, DefaultConnectionSettings: the binary value Wine's
WinHTTP reads) and puts the earlier value back afterwards. Those settings are the whole prefix's,
so ctest runs these tests with RUN_SERIAL: no other test runs beside them.

Environment (set by ctest): WINEPREFIX, TAVRO_PROXY_CLIENT (the client), TAVRO_TEST_CERTS (the
run's certificates, whose CA the prefix trusts).
"""

import contextlib
import filecmp
import http.server
import os
import pathlib
import re
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

SOURCE = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "tools" / "release-server"))

import release_server  # noqa: E402

SETTINGS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
SETTINGS_VALUE = "DefaultConnectionSettings"
# Flags of the settings value: direct, a fixed proxy, a configuration script, detection.
DIRECT, FIXED_PROXY, SCRIPT, DETECT = 1, 2, 4, 8
PACKAGE_SIZE = 3 * 1024 * 1024 + 5  # over 1 MiB, so the download takes four ranges


def environment(name):
    value = os.environ.get(name)
    if not value:
        raise unittest.SkipTest(f"{name} is not set: run this through ctest")
    return value


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_port(port, process, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError(f"the proxy ended at once (exit {process.returncode})")
        with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", port), 0.2):
            return
        time.sleep(0.05)
    raise RuntimeError(f"nothing listens on port {port} after {seconds} s")


def wine(*arguments, output=None, timeout=60):
    """Runs a Wine program with its output in a file (a pipe could be held open by Wine's own
    helper processes); returns the exit code and the output."""
    with tempfile.TemporaryFile() as out:
        code = subprocess.call(["wine", *arguments], stdin=subprocess.DEVNULL, stdout=out,
                               stderr=subprocess.STDOUT, timeout=timeout)
        out.seek(0)
        return code, out.read().decode("utf-8", "replace").replace("\r", "")


def settings_blob(flags, proxy="", bypass="", script=""):
    """The binary settings value: a header (version 0x46, a change counter, the flags) and the
    proxy list, the bypass list and the script URL, each as a length and ANSI text."""
    blob = struct.pack("<III", 0x46, 1, flags)
    for text in (proxy, bypass, script):
        data = text.encode("ascii")
        blob += struct.pack("<I", len(data)) + data
    return blob + bytes(32)


@contextlib.contextmanager
def user_proxy_settings(blob):
    """The prefix's per-user proxy settings set to blob for the block, then put back."""
    code, text = wine("reg", "query", SETTINGS_KEY, "/v", SETTINGS_VALUE)
    match = re.search(r"REG_BINARY\s+([0-9A-Fa-f]*)", text) if code == 0 else None
    earlier = match.group(1) if match else None

    def write(hex_text):
        code, text = wine("reg", "add", SETTINGS_KEY, "/v", SETTINGS_VALUE, "/t", "REG_BINARY",
                          "/d", hex_text, "/f")
        if code != 0:
            raise RuntimeError(f"reg add failed: {text}")

    write(blob.hex())
    try:
        yield
    finally:
        if earlier is not None:
            write(earlier)
        else:
            wine("reg", "delete", SETTINGS_KEY, "/v", SETTINGS_VALUE, "/f")


class Tinyproxy:
    """tinyproxy on a free loopback port, in the foreground, stopped by its process id."""

    def __init__(self, folder, extra="", name="localhost"):
        self.port = free_port()
        self.log = folder / "tinyproxy.log"
        config = folder / "tinyproxy.conf"
        config.write_text(f"Port {self.port}\nListen 127.0.0.1\nTimeout 30\nMaxClients 64\n"
                          f"LogFile \"{self.log}\"\nLogLevel Info\nAllow 127.0.0.1\n{extra}")
        self.process = subprocess.Popen(["tinyproxy", "-d", "-c", str(config)],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        try:
            wait_for_port(self.port, self.process)
        except BaseException:
            self.stop()
            raise
        # Named otherwise than the servers behind it: Wine's WinHTTP takes a proxy with the
        # target's own host name for no proxy and sends the request as to the server itself.
        self.address = f"{name}:{self.port}"

    def requests(self):
        """The request lines the proxy logged ("GET http://...", "CONNECT localhost:N")."""
        text = self.log.read_text(errors="replace") if self.log.exists() else ""
        return re.findall(r"Request \(file descriptor \d+\): (\S+ \S+)", text)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class ScriptServer(http.server.ThreadingHTTPServer):
    """Serves one proxy configuration script on a free loopback port."""

    def __init__(self, script):
        script_bytes = script.encode()

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):  # noqa: N802 (the handler's name)
                self.server.fetches += 1
                self.send_response(200)
                self.send_header("Content-Type", "application/x-ns-proxy-autoconfig")
                self.send_header("Content-Length", str(len(script_bytes)))
                self.end_headers()
                self.wfile.write(script_bytes)

            def log_message(self, *_):
                pass

        super().__init__(("127.0.0.1", 0), Handler)
        self.fetches = 0
        self.url = f"http://127.0.0.1:{self.server_address[1]}/proxy.pac"
        self.thread = threading.Thread(target=self.serve_forever, kwargs={"poll_interval": 0.1},
                                       daemon=True)
        self.thread.start()

    def stop(self):
        self.shutdown()
        self.server_close()
        self.thread.join()


class ProxyRuns(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.client = environment("TAVRO_PROXY_CLIENT")
        cls.prefix = pathlib.Path(environment("WINEPREFIX"))
        cls.certs = pathlib.Path(environment("TAVRO_TEST_CERTS"))

    def setUp(self):
        self.folder = pathlib.Path(tempfile.mkdtemp(prefix="proxy-test-"))
        self.addCleanup(lambda: subprocess.call(["rm", "-rf", str(self.folder)]))
        release = self.folder / "release"
        release.mkdir()
        (release / "Tavro.zip").write_bytes(os.urandom(PACKAGE_SIZE))
        (release / "release.json").write_text(
            '{"Version": "4.7.0", "BuildNumber": "977", "Package": "Tavro.zip"}')
        self.release = release_server.Release.load(str(release))
        self.server_log = self.folder / "server.log"

    def servers(self, tls=False):
        context = None
        if tls:
            context = release_server.tls_context(str(self.certs / "localhost.pem"),
                                                 str(self.certs / "localhost.key"))
        behaviours = [release_server.Behaviour.parse(text)
                      for text in "0.2,false,0.6,down,0.8,1.0".split(",")]
        stream = open(self.server_log, "a", encoding="utf-8")
        self.addCleanup(stream.close)
        servers = release_server.ReleaseServers(self.release, behaviours,
                                                release_server.RequestLog(stream), tls=context)
        servers.start()
        self.addCleanup(servers.stop)
        return servers

    def proxy(self, extra="", name="localhost"):
        proxy = Tinyproxy(self.folder, extra, name)
        self.addCleanup(proxy.stop)
        return proxy

    def run_client(self, api_urls, blob):
        """Runs the client under these settings; its exit code, output lines and seconds."""
        with user_proxy_settings(blob):
            started = time.monotonic()
            code, text = wine(self.client, *api_urls, timeout=90)
            seconds = time.monotonic() - started
        self.addCleanup(self.remove_package, text)
        return code, text.splitlines(), seconds

    def remove_package(self, text):
        match = re.search(r"^package C:[/\\](.*)$", text, re.M)
        if match:
            (self.prefix / "drive_c" / match.group(1).replace("\\", "/")).unlink(missing_ok=True)

    def assert_package_arrived(self, code, lines):
        self.assertEqual(code, 0, "\n".join(lines))
        path = next(line[len("package C:/"):] for line in lines if line.startswith("package "))
        downloaded = self.prefix / "drive_c" / path.replace("\\", "/")
        self.assertTrue(filecmp.cmp(downloaded, self.release.package, shallow=False))
        self.assertIn("log: Download parts: 4", lines)

    def test_fixed_proxy_carries_every_request_of_the_run(self):
        servers = self.servers()
        proxy = self.proxy()
        code, lines, _ = self.run_client(servers.api_urls(),
                                         settings_blob(FIXED_PROXY, proxy.address))
        self.assert_package_arrived(code, lines)
        requests = proxy.requests()
        for url in servers.api_urls():
            self.assertIn(f"GET {url}/api/Tavro/IsUp", requests)
        self.assertEqual(sum(r.startswith("POST ") and r.endswith("/api/Software/LatestVersion")
                             for r in requests), 1, requests)
        package = [r.split()[0] for r in requests if r.endswith(servers.package_url)]
        self.assertEqual(sorted(package), ["GET"] * 4 + ["HEAD"], requests)
        self.assertEqual(len(requests), 6 + 1 + 5, requests)
        self.assertIn(f"diagnostic: Proxy for {servers.api_urls()[0]}: {proxy.address} "
                      "(user setting)", lines)

    def test_https_goes_through_connect(self):
        servers = self.servers(tls=True)
        proxy = self.proxy(name="127.0.0.1")
        code, lines, _ = self.run_client(servers.api_urls(),
                                         settings_blob(FIXED_PROXY, proxy.address))
        self.assert_package_arrived(code, lines)
        requests = proxy.requests()
        # One tunnel per request: six probes, the query, the HEAD and the four ranges.
        self.assertEqual(len(requests), 12, requests)
        self.assertTrue(all(r.startswith("CONNECT localhost:") for r in requests), requests)
        self.assertEqual(requests.count(f"CONNECT localhost:{servers.package_port}"), 5)
        self.assertIn("[TLS", self.server_log.read_text())

    def test_bypass_list_sends_the_api_traffic_direct(self):
        servers = self.servers()
        proxy = self.proxy()
        # The API servers by the name "localhost", the package host by its address.
        api_urls = [url.replace("127.0.0.1", "localhost") for url in servers.api_urls()]
        code, lines, _ = self.run_client(api_urls, settings_blob(FIXED_PROXY, proxy.address,
                                                                 "*.example;localhost"))
        self.assert_package_arrived(code, lines)
        requests = proxy.requests()
        self.assertEqual(sorted(r.split()[0] for r in requests), ["GET"] * 4 + ["HEAD"], requests)
        self.assertTrue(all(r.endswith(servers.package_url) for r in requests), requests)
        self.assertIn(f"diagnostic: Proxy for {api_urls[0]}: direct (user setting)", lines)

    def test_script_selects_the_proxy_for_the_package_host_only(self):
        servers = self.servers()
        proxy = self.proxy()
        script = ScriptServer(
            "function FindProxyForURL(url, host) {\n"
            f"  if (shExpMatch(url, \"*:{servers.package_port}/*\"))\n"
            f"    return \"PROXY {proxy.address}\";\n"
            "  return \"DIRECT\";\n"
            "}\n")
        self.addCleanup(script.stop)
        code, lines, _ = self.run_client(servers.api_urls(),
                                         settings_blob(SCRIPT, script=script.url))
        self.assert_package_arrived(code, lines)
        requests = proxy.requests()
        self.assertEqual(sorted(r.split()[0] for r in requests), ["GET"] * 4 + ["HEAD"], requests)
        self.assertTrue(all(r.endswith(servers.package_url) for r in requests), requests)
        package_origin = servers.package_url.split("/packages/")[0]
        self.assertIn(f"diagnostic: Proxy for {package_origin}: {proxy.address} "
                      "(configuration script)", lines)
        self.assertIn(f"diagnostic: Proxy for {servers.api_urls()[0]}: direct "
                      "(configuration script)", lines)
        # One decision per host (the HEAD and the four ranges share the package host's), and
        # the resolver's session keeps the script it fetched: seven hosts, one fetch.
        self.assertEqual(script.fetches, 1)

    def test_script_that_cannot_be_fetched_means_direct_and_says_so(self):
        servers = self.servers()
        proxy = self.proxy()
        dead_script = f"http://127.0.0.1:{free_port()}/proxy.pac"
        code, lines, _ = self.run_client(servers.api_urls(),
                                         settings_blob(SCRIPT, script=dead_script))
        self.assert_package_arrived(code, lines)
        self.assertEqual(proxy.requests(), [])
        self.assertTrue(any(line.startswith(f"diagnostic: Proxy: the proxy configuration script "
                                            f"{dead_script} cannot be used (error ")
                            and line.endswith("requests go direct") for line in lines), lines)

    def test_detection_that_finds_nothing_leaves_the_fixed_proxy(self):
        servers = self.servers()
        proxy = self.proxy()
        code, lines, _ = self.run_client(servers.api_urls(),
                                         settings_blob(DETECT | FIXED_PROXY, proxy.address))
        self.assert_package_arrived(code, lines)
        self.assertEqual(len(proxy.requests()), 6 + 1 + 5, proxy.requests())
        self.assertTrue(any(line.startswith("diagnostic: Proxy: automatic proxy detection found "
                                            "no configuration (error ") for line in lines), lines)

    def test_dead_proxy_fails_on_time_naming_the_proxy(self):
        servers = self.servers()
        dead = f"127.0.0.1:{free_port()}"
        code, lines, seconds = self.run_client(servers.api_urls(), settings_blob(FIXED_PROXY, dead))
        self.assertEqual(code, 1)
        failures = [line for line in lines if line.startswith("log: Server failed: ")]
        self.assertEqual(len(failures), 6, lines)
        self.assertTrue(all(line.endswith(f"(through the proxy {dead})") for line in failures),
                        failures)
        # Within the server check's own limit (every probe times out at 12 s, the check gives up
        # at the client's 13 s), Wine's start included.
        self.assertLess(seconds, 20)
        self.assertEqual(self.server_log.read_text(), "")

    def test_proxy_asking_for_credentials_is_a_clear_error(self):
        servers = self.servers()
        proxy = self.proxy('BasicAuth someone secret\n')
        code, lines, _ = self.run_client(servers.api_urls(),
                                         settings_blob(FIXED_PROXY, proxy.address))
        self.assertEqual(code, 1)
        text = (f"The proxy {proxy.address} asks for authentication (HTTP status 407), which "
                "this installer does not support")
        self.assertIn(f"log: Server failed: {servers.api_urls()[0]} {text}", lines)


if __name__ == "__main__":
    unittest.main()
