#!/usr/bin/env python3
"""A local release server for development and the demo (never part of the product).

It speaks the installer's protocol on 127.0.0.1 from seven listeners in one process:

  six API servers, each with its own behaviour (an answer delay, silence, "false", or down):
    GET  /api/Tavro/IsUp                 "true"
    POST /api/Software/LatestVersion     checks that the body is a JSON object with the four
                                         string members PcSerialNumber, Email, PcInformation and
                                         SoftwareName, and answers FileName (the package URL on
                                         the package server), Version, BuildNumber and Sha256;
                                         a body that fails the check gets 400 and a text that
                                         says what is wrong
  one package server:
    GET, HEAD /packages/<package file>   Accept-Ranges: bytes; "Range: bytes=a-b", "a-" and
                                         "-n" get 206 with Content-Range, a range that starts
                                         outside the file gets 416; every connection is capped
                                         at --rate bytes per second

Every request ends in one line of the request log (--log, standard output by default).

With --tls-cert and --tls-key (PEM files, e.g. from tools/tls/make-test-certs.sh) every listener
speaks HTTPS instead, and the URLs it hands out name the host "localhost" (the name in the test
certificate): https://localhost:PORT. Each request's log line then ends in the protocol version
the connection negotiated, e.g. "[TLSv1.3]"; a client that gives up during the handshake (it did
not trust the certificate) leaves a line "TLS handshake failed: ...".

With --release-key FILE --key-id ID (a key from tools/release/make-release-key) the LatestVersion
answer is signed: it also carries PackageSize, Expires (--release-days from now), KeyId and
Signature, as tools/release/sign-release makes them. --release-fault makes it misbehave for tests:
unsigned (no signature members), missing-member (no PackageSize), wrong-key (signed by another key under the same id),
tamper-version, tamper-build, tamper-sha256, tamper-size, tamper-expires (a member changed after
signing), expired (validly signed, expired yesterday), der-signature (the signature in DER instead
of r and s), wrong-size (validly signed for one byte more than the package has) and
endless-package (the package GET ignores ranges and sends the package and then more bytes,
without a length, until the client leaves).

The release it serves is a folder holding release.json ({"Version", "BuildNumber", "Package"})
and the package file named there; tools/sample-release/make-sample-release.py writes one.

    release_server.py --release build/demo/release --base-port 48610 --log requests.log

API server i (0 to 5) listens on base port + 1 + i, the package server on base port + 7.
"""

import argparse
import dataclasses
import datetime
import hashlib
import http.server
import json
import os
import select
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time
import warnings

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "release"))

API_SERVER_COUNT = 6
DEFAULT_BEHAVIOURS = "1.2,silent,0.3,false,down,2.0"
IS_UP_PATH = "/api/Tavro/IsUp"
LATEST_VERSION_PATH = "/api/Software/LatestVersion"
PACKAGE_PREFIX = "/packages/"
REQUEST_MEMBERS = ("PcSerialNumber", "Email", "PcInformation", "SoftwareName")
MAX_REQUEST_BODY = 64 * 1024
CHUNK = 64 * 1024
RELEASE_FAULTS = ("unsigned", "missing-member", "wrong-key", "tamper-version", "tamper-build", "tamper-sha256",
                  "tamper-size", "tamper-expires", "expired", "der-signature", "wrong-size",
                  "endless-package")
# What an endless package sends at most after the package itself, should a client never stop.
ENDLESS_EXTRA = 256 * 1024 * 1024
# The bytes a corrupt package has inverted: a block in the middle of the file, so the size and
# the zip directory stay intact and only the contents (and their checksums) are wrong.
CORRUPT_BLOCK = 4096


@dataclasses.dataclass(frozen=True)
class Behaviour:
    """How one API server answers: after a delay, never, with "false", or not at all (down)."""

    kind: str  # "delay", "silent", "false" or "down"
    seconds: float = 0.0

    @staticmethod
    def parse(text):
        text = text.strip()
        if text in ("silent", "false", "down"):
            return Behaviour(text)
        try:
            seconds = float(text)
        except ValueError:
            raise ValueError(
                f"API server behaviour '{text}' is none of: seconds, silent, false, down"
            ) from None
        if seconds < 0:
            raise ValueError(f"API server delay '{text}' is negative")
        return Behaviour("delay", seconds)

    def describe(self):
        return {
            "delay": f"answers after {self.seconds:g} s",
            "silent": "never answers (holds each request)",
            "false": 'answers "false" (up, but not ready)',
            "down": "down: port taken, connections refused",
        }[self.kind]


@dataclasses.dataclass(frozen=True)
class Release:
    version: str
    build_number: str
    package: str  # absolute path of the package file
    size: int
    sha256: str

    @property
    def file_name(self):
        return os.path.basename(self.package)

    @staticmethod
    def load(folder):
        manifest_path = os.path.join(folder, "release.json")
        try:
            with open(manifest_path, encoding="utf-8") as manifest_file:
                manifest = json.load(manifest_file)
        except (OSError, ValueError) as error:
            raise ValueError(f"cannot read {manifest_path}: {error}") from None
        for member in ("Version", "BuildNumber", "Package"):
            if not isinstance(manifest.get(member), str) or not manifest[member]:
                raise ValueError(f"{manifest_path}: member {member} must be a non-empty string")
        package = os.path.abspath(os.path.join(folder, manifest["Package"]))
        if os.path.dirname(package) != os.path.abspath(folder):
            raise ValueError(f"{manifest_path}: Package must name a file in the release folder")
        digest = hashlib.sha256()
        try:
            with open(package, "rb") as package_file:
                for block in iter(lambda: package_file.read(1 << 20), b""):
                    digest.update(block)
        except OSError as error:
            raise ValueError(f"cannot read the package: {error}") from None
        return Release(
            manifest["Version"],
            manifest["BuildNumber"],
            package,
            os.path.getsize(package),
            digest.hexdigest(),
        )


@dataclasses.dataclass(frozen=True)
class Signing:
    """How the LatestVersion answer is signed: the key, its id, the validity and a fault."""

    key_file: str
    key_id: str
    days: float = 30.0
    fault: str = ""

    def members(self, release):
        """The signed members of the answer, misbehaving as the fault says."""
        import release_signing  # needs python3-cryptography: only a signing server imports it

        if self.fault == "unsigned":
            return {}
        key = release_signing.load_private_key(self.key_file)
        size = release.size + 1 if self.fault == "wrong-size" else release.size
        days = -1 if self.fault == "expired" else self.days
        members = release_signing.signed_members(
            key, self.key_id, release.version, release.build_number, release.sha256, size,
            release_signing.expiry_after(days))
        if self.fault == "wrong-key":
            other = release_signing.signed_members(
                release_signing.ec.generate_private_key(release_signing.ec.SECP256R1()),
                self.key_id, release.version, release.build_number, release.sha256, size,
                members["Expires"])
            members["Signature"] = other["Signature"]
        elif self.fault == "missing-member":
            del members["PackageSize"]
        elif self.fault == "der-signature":
            text = release_signing.statement_text(release.version, release.build_number,
                                                  release.sha256, size, members["Expires"])
            members["Signature"] = release_signing.der_signature(key, text)
        tamper = {
            "tamper-version": ("Version", lambda v: v + ".1"),
            "tamper-build": ("BuildNumber", lambda v: str(int(v) + 1) if v.isdigit() else v + "1"),
            "tamper-sha256": ("Sha256", lambda v: v[:-1] + ("0" if v[-1] != "0" else "1")),
            "tamper-size": ("PackageSize", lambda v: str(int(v) - 1)),
            "tamper-expires": ("Expires", later_by_a_day),
        }.get(self.fault)
        if tamper:
            name, change = tamper
            members[name] = change(members[name])
        return members

    def describe(self):
        fault = f", FAULT {self.fault}" if self.fault else ""
        return f"signed with key {self.key_id}, valid {self.days:g} days{fault}"


def later_by_a_day(text):
    moment = datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%SZ")
    return (moment + datetime.timedelta(days=1)).strftime("%Y-%m-%dT%H:%M:%SZ")


def origin_form(target):
    """The path of a request target. A server must take the absolute form too
    ("https://localhost:PORT/path"): a client behind a proxy may send it even through a tunnel
    (Wine's WinHTTP does)."""
    if "://" in target.split("?", 1)[0]:
        rest = target.split("://", 1)[1]
        return rest[rest.find("/"):] if "/" in rest else "/"
    return target


class RequestLog:
    """One line per request, from any thread, to a text stream."""

    def __init__(self, stream):
        self._stream = stream
        self._lock = threading.Lock()

    def write(self, line):
        now = time.time()
        stamp = time.strftime("%H:%M:%S", time.localtime(now)) + f".{int(now * 1000) % 1000:03d}"
        with self._lock:
            self._stream.write(f"{stamp} {line}\n")
            self._stream.flush()


def parse_range(header, size):
    """Reads a Range header against a file of `size` bytes.

    Returns None when the header is to be ignored (the whole file is sent with 200: absent,
    another unit, several ranges, or not well formed), "unsatisfiable" for a range that starts
    outside the file (416), or (first, last) with both bytes inclusive (206).
    """
    if header is None:
        return None
    unit, _, ranges_text = header.strip().partition("=")
    if unit.strip().lower() != "bytes" or "," in ranges_text:
        return None
    first_text, dash, last_text = ranges_text.strip().partition("-")
    first_text, last_text = first_text.strip(), last_text.strip()
    if not dash or not (first_text.isdigit() or first_text == "") or not (
        last_text.isdigit() or last_text == ""
    ):
        return None
    if first_text == "":
        if last_text == "":
            return None
        suffix = int(last_text)
        if suffix == 0 or size == 0:
            return "unsatisfiable"
        return (max(0, size - suffix), size - 1)
    first = int(first_text)
    if last_text and int(last_text) < first:
        return None
    if first >= size:
        return "unsatisfiable"
    return (first, min(int(last_text), size - 1) if last_text else size - 1)


def check_latest_version_body(body):
    """The problem with a LatestVersion request body, or None when it is acceptable."""
    try:
        text = body.decode("utf-8")
    except UnicodeDecodeError as error:
        return f"the body is not UTF-8 text ({error.reason} at byte {error.start})"
    try:
        value = json.loads(text)
    except ValueError as error:
        return f"the body is not JSON ({error})"
    if not isinstance(value, dict):
        return f"the body is a JSON {json_kind(value)}, not an object"
    missing = [member for member in REQUEST_MEMBERS if member not in value]
    if missing:
        if len(missing) == 1:
            return f"member {missing[0]} is missing"
        return "members " + ", ".join(missing) + " are missing"
    for member in REQUEST_MEMBERS:
        if not isinstance(value[member], str):
            return f"member {member} is a {json_kind(value[member])}, not a string"
    return None


def json_kind(value):
    if isinstance(value, bool):
        return "boolean"
    if value is None:
        return "null"
    return {dict: "object", list: "array", str: "string"}.get(type(value), "number")


def tls_context(cert_file, key_file, minimum=None, maximum=None):
    """A server-side TLS context for the certificate and key (PEM files).

    minimum and maximum (ssl.TLSVersion) bound the protocol versions offered; versions below
    TLS 1.2 need OpenSSL's security level 0, which this then sets.
    """
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert_file, key_file)
    if minimum is not None:
        with warnings.catch_warnings():  # setting TLS 1.0 or 1.1 warns: that is the point here
            warnings.simplefilter("ignore", DeprecationWarning)
            context.minimum_version = minimum
    if maximum is not None:
        context.maximum_version = maximum
        if maximum < ssl.TLSVersion.TLSv1_2:
            context.set_ciphers("DEFAULT:@SECLEVEL=0")
    return context


def certificate_subject(cert_file):
    """The subject and issuer of a PEM certificate, as openssl prints them."""
    try:
        result = subprocess.run(["openssl", "x509", "-in", cert_file, "-noout", "-subject",
                                 "-issuer", "-enddate"], capture_output=True, text=True,
                                check=True)
    except (OSError, subprocess.CalledProcessError) as error:
        return f"(cannot read {cert_file}: {error})"
    return ", ".join(line.strip() for line in result.stdout.splitlines())


class Listener(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, name, config, handler=None, tls=None):
        self.name = name
        self.config = config
        self.tls = tls
        super().__init__(("127.0.0.1", port), handler or Handler)

    def label(self):
        return f"{self.name:<7} :{self.server_address[1]}"

    def url(self):
        if self.tls is not None:
            return f"https://localhost:{self.server_address[1]}"
        return f"http://127.0.0.1:{self.server_address[1]}"

    def finish_request(self, request, client_address):
        # The handshake runs on the connection's own thread, so a slow or failing client holds
        # up no other connection.
        if self.tls is not None:
            try:
                request = self.tls.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError) as error:
                self.config.log.write(f"{self.label()}  TLS handshake failed: {error}")
                return
            try:
                super().finish_request(request, client_address)
            finally:
                request.close()  # the TLS socket owns the connection now
            return
        super().finish_request(request, client_address)


@dataclasses.dataclass
class ServerConfig:
    release: Release
    log: RequestLog
    stopping: threading.Event
    package_url: str = ""
    behaviour: Behaviour = Behaviour("delay")
    bytes_per_second: int = 0
    corrupt: bool = False
    send_digest: bool = True
    signing: Signing = None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # A reply goes out as the headers and then the body, two small writes: with Nagle's rule the
    # body waited for the client's delayed acknowledgement of the headers, about 40 ms a reply,
    # which production servers do not make anyone wait (they set TCP_NODELAY as well).
    disable_nagle_algorithm = True
    server_version = "TavroReleaseServer/1"

    # --- plumbing --------------------------------------------------------------------------

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass  # the request log replaces the default stderr lines

    def setup(self):
        super().setup()
        self.config = self.server.config

    def note(self, outcome, detail=""):
        request = f"{self.command:<4} {self.path}"
        if detail:
            request += " " + detail
        elapsed = time.monotonic() - self.started
        protocol = ""
        if isinstance(self.connection, ssl.SSLSocket) and self.connection.version():
            protocol = f" [{self.connection.version()}]"  # None once the client has gone
        self.config.log.write(
            f"{self.server.label()}  {request} -> {outcome} after {elapsed:.2f} s{protocol}")

    def send_text(self, status, text, content_type="text/plain; charset=utf-8", headers=()):
        body = text.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def hold_silently(self, detail=""):
        """Answers nothing until the client gives up or the server stops."""
        while not self.config.stopping.is_set():
            readable, _, _ = select.select([self.connection], [], [], 0.2)
            if readable:
                try:
                    if isinstance(self.connection, ssl.SSLSocket):
                        # TLS cannot peek; a client that waits for the answer sends nothing.
                        if not self.connection.recv(1):
                            break
                    elif not self.connection.recv(1, socket.MSG_PEEK):
                        break
                except OSError:
                    break
        self.close_connection = True
        how = "server stopped" if self.config.stopping.is_set() else "client left"
        self.note(f"no answer ({how})", detail)

    def api_wait(self, detail=""):
        """Applies the API server's behaviour. False when the request is not to be answered."""
        behaviour = self.config.behaviour
        if behaviour.kind == "silent":
            self.hold_silently(detail)
            return False
        if behaviour.kind == "delay" and self.config.stopping.wait(behaviour.seconds):
            self.close_connection = True
            return False
        return True

    # --- routes ----------------------------------------------------------------------------

    def do_GET(self):
        self.route()

    def do_HEAD(self):
        self.route()

    def do_POST(self):
        self.route()

    def route(self):
        self.started = time.monotonic()
        path = origin_form(self.path).split("?", 1)[0]
        is_package_server = self.server.name == "package"
        if not is_package_server and path == IS_UP_PATH:
            self.is_up()
        elif not is_package_server and path == LATEST_VERSION_PATH:
            self.latest_version()
        elif is_package_server and path.startswith(PACKAGE_PREFIX):
            self.package(path[len(PACKAGE_PREFIX):])
        else:
            self.read_body(MAX_REQUEST_BODY)
            self.send_text(404, f"Nothing here: {path}\n")
            self.note("404")

    def is_up(self):
        if self.command == "POST":
            self.read_body(MAX_REQUEST_BODY)
            self.method_not_allowed("GET, HEAD")
            return
        if not self.api_wait():
            return
        answer = "false" if self.config.behaviour.kind == "false" else "true"
        self.send_text(200, answer, "application/json")
        self.note(f'200 "{answer}"')

    def latest_version(self):
        if self.command != "POST":
            self.method_not_allowed("POST")
            return
        body = self.read_body(MAX_REQUEST_BODY)
        if body is None:
            return
        problem = check_latest_version_body(body)
        detail = ""
        if problem is None:
            detail = "Email=" + json.dumps(json.loads(body)["Email"])
        if not self.api_wait(detail):
            return
        if problem is not None:
            self.send_text(
                400,
                f"Bad LatestVersion request: {problem}. Expected a JSON object with the string "
                f"members {', '.join(REQUEST_MEMBERS)}.\n",
            )
            self.note(f"400 ({problem})")
            return
        release = self.config.release
        reply = {
            "FileName": self.config.package_url,
            "Version": release.version,
            "BuildNumber": release.build_number,
        }
        if self.config.send_digest:
            reply["Sha256"] = release.sha256
        signed = ""
        if self.config.signing is not None:
            reply.update(self.config.signing.members(release))
            if "KeyId" in reply:
                signed = f", signed by {reply['KeyId']} until {reply['Expires']}"
        self.send_text(200, json.dumps(reply), "application/json")
        self.note(f"200 {release.file_name} {release.version} build {release.build_number}"
                  f"{signed}", detail)

    def package(self, name):
        release = self.config.release
        if self.command == "POST":
            self.read_body(MAX_REQUEST_BODY)
            self.method_not_allowed("GET, HEAD")
            return
        if name != release.file_name:
            self.send_text(404, f"No such package: {name}\n")
            self.note("404")
            return
        header = self.headers.get("Range")
        wanted = parse_range(header, release.size)
        detail = f"Range: {header.strip()}" if header is not None else ""
        if wanted == "unsatisfiable":
            self.send_text(
                416,
                f"Range '{header.strip()}' lies outside the file of {release.size} bytes.\n",
                headers=[("Content-Range", f"bytes */{release.size}")],
            )
            self.note("416", detail)
            return
        signing = self.config.signing
        if self.command == "GET" and signing is not None and signing.fault == "endless-package":
            self.send_endless_package(detail)
            return
        first, last = wanted if wanted is not None else (0, release.size - 1)
        length = last - first + 1 if release.size else 0
        self.send_response(206 if wanted is not None else 200)
        self.send_header("Content-Type", "application/zip")
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Length", str(length))
        if wanted is not None:
            self.send_header("Content-Range", f"bytes {first}-{last}/{release.size}")
        self.end_headers()
        status = "206" if wanted is not None else "200"
        if self.command == "HEAD":
            self.note(f"{status}, {length} bytes (headers only)", detail)
            return
        sent = self.send_package_bytes(first, length)
        elapsed = max(time.monotonic() - self.started, 1e-6)
        rate = sent / elapsed / (1 << 20)
        if sent == length:
            self.note(f"{status}, {sent} bytes ({rate:.1f} MiB/s)", detail)
        else:
            self.close_connection = True
            self.note(f"{status}, cut after {sent} of {length} bytes (client left)", detail)

    # --- helpers ---------------------------------------------------------------------------

    def method_not_allowed(self, allowed):
        self.send_text(405, f"{self.command} is not allowed here; use {allowed}.\n",
                       headers=[("Allow", allowed)])
        self.note("405")

    def read_body(self, limit):
        """The request body, or None after answering 400/413 for one that cannot be read."""
        length_text = self.headers.get("Content-Length")
        if length_text is None:
            if self.headers.get("Transfer-Encoding"):
                self.close_connection = True
                self.send_text(400, "Send the body with a Content-Length header.\n")
                self.note("400 (no Content-Length)")
                return None
            return b""
        if not length_text.strip().isdigit():
            self.close_connection = True
            self.send_text(400, f"Content-Length '{length_text}' is not a number.\n")
            self.note("400 (bad Content-Length)")
            return None
        length = int(length_text)
        if length > limit:
            self.close_connection = True
            self.send_text(413, f"The body of {length} bytes is over the limit of {limit}.\n")
            self.note("413")
            return None
        return self.rfile.read(length)

    def send_endless_package(self, detail):
        """The package with no length, then more bytes, until the client leaves."""
        self.close_connection = True
        self.send_response(200)
        self.send_header("Content-Type", "application/zip")
        self.send_header("Connection", "close")
        self.end_headers()
        sent = self.send_package_bytes(0, self.config.release.size)
        filler = bytes(CHUNK)
        while sent < self.config.release.size + ENDLESS_EXTRA and not self.config.stopping.is_set():
            try:
                self.wfile.write(filler)
            except OSError:
                break
            sent += len(filler)
        self.note(f"200 endless, {sent} bytes sent until the client left", detail)

    def send_package_bytes(self, first, length):
        """Sends `length` bytes from `first` at the capped rate; the bytes sent."""
        release = self.config.release
        rate = self.config.bytes_per_second
        chunk = min(CHUNK, max(1024, rate // 20)) if rate else CHUNK
        corrupt_from = release.size // 2 if self.config.corrupt else -1
        sent = 0
        with open(release.package, "rb") as package_file:
            package_file.seek(first)
            while sent < length and not self.config.stopping.is_set():
                block = package_file.read(min(chunk, length - sent))
                if not block:
                    break
                if corrupt_from >= 0:
                    block = invert_block(block, first + sent, corrupt_from)
                if rate:
                    # A block leaves only once the cap allows all of it to have been sent.
                    early = (sent + len(block)) / rate - (time.monotonic() - self.started)
                    if early > 0 and self.config.stopping.wait(early):
                        break
                try:
                    self.wfile.write(block)
                except OSError:
                    break
                sent += len(block)
        return sent


def invert_block(block, offset, corrupt_from):
    """`block` (read at `offset`) with the bytes of the corrupt region inverted."""
    start = max(corrupt_from, offset)
    end = min(corrupt_from + CORRUPT_BLOCK, offset + len(block))
    if start >= end:
        return block
    data = bytearray(block)
    for index in range(start - offset, end - offset):
        data[index] ^= 0xFF
    return bytes(data)


class ReleaseServers:
    """The six API servers and the package server, each on its own thread."""

    def __init__(self, release, behaviours, log, base_port=0, bytes_per_second=0,
                 corrupt=False, send_digest=True, tls=None, signing=None):
        if len(behaviours) != API_SERVER_COUNT:
            raise ValueError(f"give {API_SERVER_COUNT} API server behaviours, not {len(behaviours)}")
        self.stopping = threading.Event()
        self.behaviours = behaviours
        self._listeners = []
        self._refusers = []
        self._threads = []
        self.api_ports = []

        def config(**extra):
            return ServerConfig(release, log, self.stopping, bytes_per_second=bytes_per_second,
                                corrupt=corrupt, send_digest=send_digest, signing=signing,
                                **extra)

        try:
            self.tls = tls
            package = Listener(base_port + 7 if base_port else 0, "package", config(), tls=tls)
            self._listeners.append(package)
            self.package_port = package.server_address[1]
            package_url = f"{package.url()}{PACKAGE_PREFIX}{release.file_name}"
            for index, behaviour in enumerate(behaviours):
                port = base_port + 1 + index if base_port else 0
                name = f"api{index + 1}"
                if behaviour.kind == "down":
                    self.api_ports.append(self._refuse(port))
                    continue
                listener = Listener(port, name, config(package_url=package_url, behaviour=behaviour),
                                    tls=tls)
                self._listeners.append(listener)
                self.api_ports.append(listener.server_address[1])
        except BaseException:
            self.stop()
            raise
        self.package_url = package_url

    def _refuse(self, port):
        """Takes the port without listening on it, so connections to it are refused."""
        refuser = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._refusers.append(refuser)
        # Connections of an earlier run may still linger in TIME_WAIT on this port.
        refuser.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        refuser.bind(("127.0.0.1", port))
        return refuser.getsockname()[1]

    def api_urls(self):
        if self.tls is not None:
            return [f"https://localhost:{port}" for port in self.api_ports]
        return [f"http://127.0.0.1:{port}" for port in self.api_ports]

    def start(self):
        for listener in self._listeners:
            thread = threading.Thread(target=listener.serve_forever, kwargs={"poll_interval": 0.1},
                                      name=listener.name, daemon=True)
            thread.start()
            self._threads.append(thread)

    def stop(self):
        self.stopping.set()
        if self._threads:
            # Each shutdown waits for its loop's next poll: wait for all of them at once.
            stoppers = [threading.Thread(target=listener.shutdown) for listener in self._listeners]
            for stopper in stoppers:
                stopper.start()
            for stopper in stoppers:
                stopper.join()
        for listener in self._listeners:
            listener.server_close()
        for refuser in self._refusers:
            refuser.close()
        for thread in self._threads:
            thread.join()
        self._listeners, self._refusers, self._threads = [], [], []

    def describe(self):
        lines = []
        for index, (url, behaviour) in enumerate(zip(self.api_urls(), self.behaviours)):
            lines.append(f"api{index + 1}    {url}  {behaviour.describe()}")
        lines.append(f"package {self.package_url}")
        return lines


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        description="Local release server for development and the demo (127.0.0.1 only).")
    parser.add_argument("--release", required=True,
                        help="folder with release.json and the package it names")
    parser.add_argument("--base-port", type=int, required=True,
                        help="API servers listen on BASE+1 to BASE+6, the package server on BASE+7")
    parser.add_argument("--api", default=DEFAULT_BEHAVIOURS,
                        help="six comma-separated behaviours, one per API server: seconds to wait "
                             "before answering, silent, false or down (default %(default)s)")
    parser.add_argument("--rate", type=float, default=0.0,
                        help="bandwidth cap per connection in MiB/s (default: none)")
    parser.add_argument("--corrupt", action="store_true",
                        help="serve the package with a block of bytes inverted (same size)")
    parser.add_argument("--no-digest", action="store_true",
                        help="leave Sha256 out of the LatestVersion answer")
    parser.add_argument("--release-key", help="sign the answers with this private key (PEM)")
    parser.add_argument("--key-id", help="the id of --release-key, as built into the installer")
    parser.add_argument("--release-days", type=float, default=30.0,
                        help="how long a signed answer stays valid (default %(default)s days)")
    parser.add_argument("--release-fault", choices=RELEASE_FAULTS,
                        help="misbehave in the signed answer or the package (tests)")
    parser.add_argument("--log", help="append the request log to this file (default: standard output)")
    parser.add_argument("--tls-cert", help="serve HTTPS with this certificate (PEM)")
    parser.add_argument("--tls-key", help="the private key of --tls-cert (PEM)")
    arguments = parser.parse_args(argv)
    if (arguments.tls_cert is None) != (arguments.tls_key is None):
        parser.error("--tls-cert and --tls-key go together")
    if (arguments.release_key is None) != (arguments.key_id is None):
        parser.error("--release-key and --key-id go together")
    if arguments.release_fault and arguments.release_key is None:
        parser.error("--release-fault needs --release-key and --key-id")
    if not 0 < arguments.base_port <= 65535 - 7:
        parser.error("--base-port must lie between 1 and 65528")
    try:
        arguments.behaviours = [Behaviour.parse(text) for text in arguments.api.split(",")]
    except ValueError as error:
        parser.error(str(error))
    if len(arguments.behaviours) != API_SERVER_COUNT:
        parser.error(f"--api needs {API_SERVER_COUNT} behaviours, got {len(arguments.behaviours)}")
    if arguments.rate < 0:
        parser.error("--rate must not be negative")
    return arguments


def main(argv):
    arguments = parse_arguments(argv)
    try:
        release = Release.load(arguments.release)
    except ValueError as error:
        print(f"release_server: {error}", file=sys.stderr)
        return 1
    tls = None
    if arguments.tls_cert:
        try:
            tls = tls_context(arguments.tls_cert, arguments.tls_key)
        except (OSError, ssl.SSLError) as error:
            print(f"release_server: cannot use {arguments.tls_cert} and {arguments.tls_key}: "
                  f"{error}", file=sys.stderr)
            return 1
    signing = None
    if arguments.release_key:
        signing = Signing(arguments.release_key, arguments.key_id, arguments.release_days,
                          arguments.release_fault or "")
        try:
            signing.members(release)  # a key that cannot sign fails now, not at the first query
        except (OSError, ValueError, RuntimeError) as error:
            print(f"release_server: cannot sign with {arguments.release_key}: {error}",
                  file=sys.stderr)
            return 1
    stream = open(arguments.log, "a", encoding="utf-8") if arguments.log else sys.stdout
    try:
        servers = ReleaseServers(release, arguments.behaviours, RequestLog(stream),
                                 arguments.base_port, int(arguments.rate * (1 << 20)),
                                 arguments.corrupt, not arguments.no_digest, tls, signing)
    except OSError as error:
        print(f"release_server: cannot listen on 127.0.0.1 ports {arguments.base_port + 1} to "
              f"{arguments.base_port + 7}: {error.strerror}", file=sys.stderr)
        return 1
    stopped = threading.Event()
    for signal_number in (signal.SIGINT, signal.SIGTERM):
        signal.signal(signal_number, lambda *_: stopped.set())
    servers.start()
    for line in servers.describe():
        print(line, file=sys.stderr)
    if tls is not None:
        print(f"TLS certificate: {certificate_subject(arguments.tls_cert)}", file=sys.stderr)
    cap = f"{arguments.rate:g} MiB/s per connection" if arguments.rate else "no bandwidth cap"
    print(f"release {release.version} build {release.build_number}, {release.size} bytes, {cap}"
          + (", CORRUPT package" if arguments.corrupt else ""), file=sys.stderr)
    print("release " + (signing.describe() if signing else "unsigned"), file=sys.stderr)
    print("release server ready", file=sys.stderr, flush=True)
    stopped.wait()
    servers.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
