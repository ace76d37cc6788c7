"""Tests of the demo's own pieces: shortcut reading, the install report, stages and clean-up.

    python3 -m unittest discover -s tools/demo
"""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

import demo_env
import install_report
import shell_link


def link_bytes(target="C:\\Quendrel\\Tavro\\Tavro.exe", strings=None, count_zero=True,
               id_list=b"\x14\x00" + bytes(18)):
    """A shell link laid out as Wine's IPersistFile::Save writes it."""
    strings = strings if strings is not None else [
        (shell_link.HAS_NAME, "Tavro"),
        (shell_link.HAS_WORKING_DIR, "C:/Quendrel/Tavro"),
        (shell_link.HAS_ICON_LOCATION, "C:/Quendrel/Tavro\\Tavro.ico"),
    ]
    flags = shell_link.IS_UNICODE | shell_link.HAS_LINK_INFO
    if id_list is not None:
        flags |= shell_link.HAS_ID_LIST
    for flag, _ in strings:
        flags |= flag
    header = struct.pack("<I16sI", shell_link.HEADER_SIZE, shell_link.LINK_CLSID, flags)
    header += bytes(shell_link.HEADER_SIZE - len(header))
    body = b""
    if id_list is not None:
        body += struct.pack("<H", len(id_list)) + id_list
    base = target.encode("cp1252") + b"\0"
    volume = struct.pack("<IIII", 16, 3, 0, 0)
    info_header = 0x1C
    info = struct.pack("<IIIIIII", 0, info_header, 1, info_header,
                       info_header + len(volume), 0, info_header + len(volume) + len(base))
    info += volume + base + b"\0"
    info = struct.pack("<I", len(info)) + info[4:]
    body += info
    for _, text in strings:
        if count_zero:
            text += "\0"
        body += struct.pack("<H", len(text)) + text.encode("utf-16-le")
    return header + body + bytes(4)


class ShellLinkTest(unittest.TestCase):
    def test_reads_target_and_strings_as_wine_writes_them(self):
        link = shell_link.parse(link_bytes())
        self.assertEqual(link.target, "C:\\Quendrel\\Tavro\\Tavro.exe")
        self.assertEqual(link.description, "Tavro")
        self.assertEqual(link.working_dir, "C:/Quendrel/Tavro")
        self.assertEqual(link.icon_location, "C:/Quendrel/Tavro\\Tavro.ico")
        self.assertEqual((link.arguments, link.relative_path), ("", ""))

    def test_strings_without_a_counted_zero_and_without_an_id_list(self):
        link = shell_link.parse(link_bytes(count_zero=False, id_list=None,
                                           strings=[(shell_link.HAS_ARGUMENTS, "--updater")]))
        self.assertEqual(link.arguments, "--updater")
        self.assertEqual(link.description, "")

    def test_rejects_what_is_not_a_link_or_ends_early(self):
        with self.assertRaises(shell_link.ShellLinkError):
            shell_link.parse(b"MZ" + bytes(200))
        data = link_bytes()
        for length in (len(data) - 20, shell_link.HEADER_SIZE + 30):
            with self.subTest(length=length), self.assertRaises(shell_link.ShellLinkError):
                shell_link.parse(data[:length])


class InstallReportTest(unittest.TestCase):
    def test_registry_values_from_reg_query_output(self):
        output = ("\r\nHKEY_CURRENT_USER\\SOFTWARE\\Tavro\r\n"
                  "    AppDirectory    REG_SZ    C:/Quendrel/Tavro\r\n"
                  "    BuildNumber    REG_SZ    812\r\n"
                  "    Empty    REG_SZ    \r\n\r\n")
        self.assertEqual(install_report.parse_reg_query(output), {
            "AppDirectory": ("REG_SZ", "C:/Quendrel/Tavro"),
            "BuildNumber": ("REG_SZ", "812"),
            "Empty": ("REG_SZ", ""),
        })

    def test_request_summary_names_the_race_winner_the_post_and_the_ranges(self):
        path = "/packages/Tavro-4.1.0-812.zip"
        lines = [
            '15:33:19.573 api4    :48614  GET  /api/Tavro/IsUp -> 200 "false" after 0.00 s',
            '15:33:19.874 api3    :48613  GET  /api/Tavro/IsUp -> 200 "true" after 0.30 s',
            '15:33:20.778 api1    :48611  GET  /api/Tavro/IsUp -> 200 "true" after 1.20 s',
            "15:33:31.590 api2    :48612  GET  /api/Tavro/IsUp -> no answer (client left) "
            "after 12.01 s",
            '15:33:39.686 api3    :48613  POST /api/Software/LatestVersion Email="a@b.c" -> 200 '
            "Tavro-4.1.0-812.zip 4.1.0 build 812 after 0.30 s",
            f"15:33:39.717 package :48617  HEAD {path} -> 200, 46422722 bytes (headers only) "
            "after 0.00 s",
            f"15:33:50.845 package :48617  GET  {path} Range: bytes=0-11605679 -> 206, 11605680 "
            "bytes (1.0 MiB/s) after 11.07 s",
            f"15:33:50.850 package :48617  GET  {path} Range: bytes=11605680-23211359 -> 206, "
            "cut after 10 of 11605680 bytes (client left) after 3.00 s",
            f"15:33:51.000 package :48617  GET  {path} -> 200, 46422722 bytes (9.0 MiB/s) "
            "after 5.00 s",
            "not a log line",
        ]
        summary = install_report.summarise_requests(lines)
        self.assertEqual((summary.winner, summary.winner_after), ("api3 :48613", 0.30))
        self.assertEqual(summary.is_up_requests, 4)
        self.assertEqual(len(summary.latest_version_posts), 1)
        self.assertTrue(summary.latest_version_posts[0].startswith("api3 :48613 -> 200"))
        self.assertEqual(summary.package_heads, 1)
        self.assertEqual(summary.ranges, ["bytes=0-11605679", "bytes=11605680-23211359"])
        self.assertEqual(summary.whole_gets, 1)
        self.assertEqual((summary.protocols, summary.failed_handshakes), (set(), 0))

    def test_request_summary_over_https_names_the_protocols(self):
        lines = [
            '15:33:19.874 api3    :48613  GET  /api/Tavro/IsUp -> 200 "true" after 0.30 s [TLSv1.2]',
            "15:33:19.900 api1    :48611  TLS handshake failed: [SSL] EOF occurred",
            "15:33:39.717 package :48617  HEAD /packages/T.zip -> 200, 4 bytes (headers only) "
            "after 0.00 s [TLSv1.3]",
        ]
        summary = install_report.summarise_requests(lines)
        self.assertEqual((summary.winner, summary.package_heads), ("api3 :48613", 1))
        self.assertEqual(summary.protocols, {"TLSv1.2", "TLSv1.3"})
        self.assertEqual(summary.failed_handshakes, 1)

    def test_signed_answers_name_their_key_and_expiry_once_each(self):
        signed = ('15:33:39.686 api3    :48613  POST /api/Software/LatestVersion Email="a@b.c" -> '
                  "200 Tavro-4.1.0-812.zip 4.1.0 build 812, signed by demo-run until "
                  "2027-01-08T11:11:32Z after 0.30 s [TLSv1.3]")
        unsigned = ('15:33:40.686 api3    :48613  POST /api/Software/LatestVersion Email="a@b.c" '
                    "-> 200 Tavro-4.1.0-812.zip 4.1.0 build 812 after 0.30 s")
        self.assertEqual(install_report.release_signatures([signed, unsigned, signed]),
                         [("demo-run", "2027-01-08T11:11:32Z")])
        self.assertEqual(install_report.summarise_requests([signed]).latest_version_posts,
                         ["api3 :48613 -> 200 Tavro-4.1.0-812.zip 4.1.0 build 812, signed by "
                          "demo-run until 2027-01-08T11:11:32Z"])

    def test_tree_comparison_finds_missing_and_different_files_only(self):
        with tempfile.TemporaryDirectory() as expected, tempfile.TemporaryDirectory() as actual:
            files = {"Tavro.exe": b"MZ1", "USB Driver/zadig-2.3.exe": b"MZ2", "a/b/c.dat": b"x"}
            for relative, content in files.items():
                for root in (expected, actual):
                    os.makedirs(os.path.dirname(os.path.join(root, relative)), exist_ok=True)
                    with open(os.path.join(root, relative), "wb") as output:
                        output.write(content)
            self.assertEqual(install_report.compare_trees(expected, actual), ([], []))
            with open(os.path.join(actual, "a/b/c.dat"), "wb") as output:
                output.write(b"y")  # same size, other bytes
            os.remove(os.path.join(actual, "USB Driver/zadig-2.3.exe"))
            with open(os.path.join(actual, "extra.txt"), "wb") as output:
                output.write(b"not in the release")
            self.assertEqual(install_report.compare_trees(expected, actual),
                             (["USB Driver/zadig-2.3.exe"], ["a/b/c.dat"]))

    def test_installed_files_lists_sizes_and_empty_folders(self):
        with tempfile.TemporaryDirectory() as root:
            os.makedirs(os.path.join(root, "database"))
            os.makedirs(os.path.join(root, "Ostrilan"))
            with open(os.path.join(root, "Ostrilan", "Ostrilan.exe"), "wb") as output:
                output.write(b"12345")
            files, empty = install_report.installed_files(root)
            self.assertEqual(files, [("Ostrilan/Ostrilan.exe", 5)])
            self.assertEqual(empty, ["database"])


class StagesTest(unittest.TestCase):
    def setUp(self):
        self.stages = demo_env.Stages()
        self.output = open(os.devnull, "w")
        self.stdout, sys.stdout = sys.stdout, self.output

    def tearDown(self):
        sys.stdout = self.stdout
        self.output.close()

    def test_a_failure_inside_a_stage_carries_its_name(self):
        with self.stages.run("build", "first"):
            pass
        for error in (OSError("no such file"), RuntimeError("exit code 2"),
                      subprocess.TimeoutExpired("wineboot", 240)):
            with self.subTest(error=type(error).__name__):
                with self.assertRaises(demo_env.StageFailed) as caught:
                    with self.stages.run("wine prefix", "second"):
                        raise error
                self.assertEqual(caught.exception.stage, "wine prefix")
                self.assertIn(str(error), caught.exception.message)

    def test_fail_names_the_current_stage_and_interruptions_pass_through(self):
        with self.assertRaises(demo_env.StageFailed) as caught:
            with self.stages.run("download", "x"):
                self.stages.fail('the box "Download failed" says: refused')
        self.assertEqual(caught.exception.stage, "download")
        with self.assertRaises(demo_env.Interrupted):
            with self.stages.run("install", "x"):
                raise demo_env.Interrupted("SIGINT")


class ProcessesTest(unittest.TestCase):
    def test_stops_in_reverse_order_and_goes_on_after_a_failing_stop(self):
        stopped = []

        def failing():
            raise OSError("gone")

        processes = demo_env.Processes()
        processes.add("first", lambda: stopped.append("first"))
        processes.add("second", failing)
        processes.add("third", lambda: stopped.append("third"))
        with open(os.devnull, "w") as sink:
            saved = sys.stdout, sys.stderr
            sys.stdout = sys.stderr = sink
            try:
                processes.stop_all()
            finally:
                sys.stdout, sys.stderr = saved
        self.assertEqual(stopped, ["third", "first"])
        processes.stop_all()  # nothing left: nothing runs twice
        self.assertEqual(stopped, ["third", "first"])

    def test_stop_process_ends_a_process_that_ignores_sigterm(self):
        process = subprocess.Popen(
            [sys.executable, "-c",
             "import signal, sys, time; signal.signal(signal.SIGTERM, signal.SIG_IGN); "
             "print('ready', flush=True); time.sleep(60)"],
            stdout=subprocess.PIPE, start_new_session=True)
        process.stdout.readline()
        demo_env.stop_process(process, grace=0.5)
        self.assertIsNotNone(process.poll())
        process.stdout.close()


class WineEnvironmentTest(unittest.TestCase):
    def test_own_prefix_and_home_and_the_users_x_cookie(self):
        with tempfile.TemporaryDirectory() as home:
            cookie = os.path.join(home, ".Xauthority")
            open(cookie, "w").close()
            saved = dict(os.environ)
            try:
                os.environ.pop("XAUTHORITY", None)
                os.environ.update({"HOME": home, "WINEPREFIX": "/somebody/else", "WINESERVER": "x"})
                wine = demo_env.wine_environment(":7")
            finally:
                os.environ.clear()
                os.environ.update(saved)
        self.assertEqual(wine["WINEPREFIX"], demo_env.PREFIX)
        self.assertEqual(wine["HOME"], demo_env.HOME)
        self.assertEqual(wine["XAUTHORITY"], cookie)
        self.assertEqual(wine["DISPLAY"], ":7")
        self.assertNotIn("WINESERVER", wine)
        self.assertIn("winemenubuilder.exe=d", wine["WINEDLLOVERRIDES"])


if __name__ == "__main__":
    unittest.main()
