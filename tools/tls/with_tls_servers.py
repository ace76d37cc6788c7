#!/usr/bin/env python3
"""Runs a command while local HTTPS servers with good and bad certificates listen (tests only).

    with_tls_servers.py --certs DIR [--log FILE] -- COMMAND...

DIR holds the certificates of tools/tls/make-test-certs.sh. Every server listens on 127.0.0.1 on
an ephemeral port and answers the installer's protocol (IsUp "true", LatestVersion naming the
good server's package, the package with byte ranges), each under its own certificate. The
command runs with one environment variable per server holding its base URL (host "localhost",
the name in the certificates):

    TAVRO_TLS_GOOD            certificate of the test CA for localhost
    TAVRO_TLS_SELF_SIGNED     localhost, signed by itself (a CA nobody trusts)
    TAVRO_TLS_OTHER_HOST      the test CA, but for other-host.example
    TAVRO_TLS_EXPIRED         the test CA, valid only in the past
    TAVRO_TLS_NOT_YET_VALID   the test CA, valid only in the future
    TAVRO_TLS_OLD_ONLY        the good certificate, but TLS 1.0 and 1.1 only
    TAVRO_TLS_PLAIN           plain HTTP (an https:// client meets it on the https port)
    TAVRO_TLS_TO_PLAIN        the good certificate, every request answered with a 302 to the
                              same path on TAVRO_TLS_PLAIN, as http://
and TAVRO_TLS_PACKAGE_PATH (the package's path on each server), TAVRO_TLS_PACKAGE_SIZE, and
TAVRO_TLS_LOG (the request log of all of them, one line per request or failed handshake).
The servers stop when the command ends; the exit code is the command's.
"""

import argparse
import json
import os
import random
import signal
import ssl
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir,
                                "release-server"))
import release_server as rs  # noqa: E402

PACKAGE_SIZE = 3 * 1024 * 1024 + 5  # large enough for four parts


class AnyRouteHandler(rs.Handler):
    """API routes and the package on one listener; or, with a redirect target, only 302s."""

    def route(self):
        self.started = time.monotonic()
        if self.server.redirect_to:
            target = self.server.redirect_to + self.path
            self.read_body(rs.MAX_REQUEST_BODY)
            self.send_text(302, f"Moved to {target}\n", headers=[("Location", target)])
            self.note(f"302 to {target}")
            return
        path = self.path.split("?", 1)[0]
        if path == rs.IS_UP_PATH:
            self.is_up()
        elif path == rs.LATEST_VERSION_PATH:
            self.latest_version()
        elif path.startswith(rs.PACKAGE_PREFIX):
            self.package(path[len(rs.PACKAGE_PREFIX):])
        else:
            self.read_body(rs.MAX_REQUEST_BODY)
            self.send_text(404, f"Nothing here: {path}\n")
            self.note("404")


def make_release(folder):
    with open(os.path.join(folder, "Tavro-4.1.0.zip"), "wb") as package:
        package.write(random.Random(13).randbytes(PACKAGE_SIZE))
    with open(os.path.join(folder, "release.json"), "w", encoding="utf-8") as manifest:
        json.dump({"Version": "4.1.0", "BuildNumber": "812", "Package": "Tavro-4.1.0.zip"},
                  manifest)
    return rs.Release.load(folder)


def start_servers(certs, release, log):
    stopping = threading.Event()

    def context(name, **versions):
        return rs.tls_context(os.path.join(certs, f"{name}.pem"),
                              os.path.join(certs, f"{name}.key"), **versions)

    old = {"minimum": ssl.TLSVersion.TLSv1, "maximum": ssl.TLSVersion.TLSv1_1}
    plans = [("GOOD", context("localhost")), ("SELF_SIGNED", context("self-signed")),
             ("OTHER_HOST", context("other-host")), ("EXPIRED", context("expired")),
             ("NOT_YET_VALID", context("not-yet-valid")), ("OLD_ONLY", context("localhost", **old)),
             ("PLAIN", None), ("TO_PLAIN", context("localhost"))]
    listeners = {}
    config = rs.ServerConfig(release, log, stopping, send_digest=False)
    for name, tls in plans:
        listener = rs.Listener(0, name.lower(), config, AnyRouteHandler, tls)
        listener.redirect_to = ""
        listeners[name] = listener
    good = listeners["GOOD"]
    config.package_url = f"{good.url()}{rs.PACKAGE_PREFIX}{release.file_name}"
    plain_port = listeners["PLAIN"].server_address[1]
    listeners["TO_PLAIN"].redirect_to = f"http://localhost:{plain_port}"
    threads = []
    for listener in listeners.values():
        thread = threading.Thread(target=listener.serve_forever,
                                                kwargs={"poll_interval": 0.1}, daemon=True)
        thread.start()
        threads.append(thread)
    return listeners, stopping


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--certs", required=True)
    parser.add_argument("--log")
    parser.add_argument("command", nargs="+")
    arguments = parser.parse_args(argv)
    with tempfile.TemporaryDirectory(prefix="tls-servers.") as folder:
        log_path = arguments.log or os.path.join(folder, "requests.log")
        with open(log_path, "a", encoding="utf-8") as stream:
            release = make_release(folder)
            listeners, stopping = start_servers(arguments.certs, release, rs.RequestLog(stream))
            environment = dict(os.environ)
            for name, listener in listeners.items():
                if name == "PLAIN":
                    environment["TAVRO_TLS_PLAIN"] = f"https://localhost:{listener.server_address[1]}"
                else:
                    environment[f"TAVRO_TLS_{name}"] = listener.url()
            environment["TAVRO_TLS_PACKAGE_PATH"] = rs.PACKAGE_PREFIX + release.file_name
            environment["TAVRO_TLS_PACKAGE_SIZE"] = str(release.size)
            environment["TAVRO_TLS_LOG"] = log_path
            command = subprocess.Popen(arguments.command, env=environment)
            signal.signal(signal.SIGTERM, lambda *_: command.terminate())
            code = command.wait()
            stopping.set()
            for listener in listeners.values():
                listener.shutdown()
                listener.server_close()
    return code


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
