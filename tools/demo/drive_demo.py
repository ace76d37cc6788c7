"""The demo's drive of the installer and updater windows, through the shared window driver.

tools/drive/installer_ui.py finds the windows and clicks and types with xdotool; the build's
window reader (tools/winprobe) reads the controls, message boxes and progress bars from inside
the demo prefix. Every wait also watches for the failure boxes, so a failed step ends the demo
at once with the box's text, under the name of its stage.
"""

import os
import re
import shutil
import sys
import time

import demo_env as env
import install_report
from demo_env import say

sys.path.insert(0, os.path.join(env.ROOT, "tools", "drive"))
from installer_ui import DriveError, InstallerWindow, Probe, WineSession  # noqa: E402

INSTALLER_TITLE = "Tavro Installer"
UPDATER_TITLE = "Tavro Updater"
EMAIL = "demo@example.com"
OLD_PRODUCT_TITLE = "Tavro 4.1.0 (build 812)"
NEW_PRODUCT_TITLE = "Tavro 4.2.0 (build 905)"
USB_TOOL_CAPTION = "zadig-2.3.exe"
FAILURE_CAPTIONS = ("Download failed", "Install failed", "Tavro Updater failed")
WINPROBE = os.path.join(env.BUILT_TOOLS, "winprobe.exe")


class Driver:
    """The session and window reader of one demo run; every failure names the current stage."""

    def __init__(self, demo):
        self.demo = demo
        self.session = WineSession(env.PREFIX, env.HOME, demo.display)
        self.session.env = dict(demo.wine_env)
        self.probe = Probe(self.session, WINPROBE)
        demo.processes.add("the window reader (winprobe)", self.probe.stop)

    def window(self, title, timeout=30):
        try:
            return InstallerWindow(self.session, self.probe, title, timeout)
        except DriveError as error:
            self.demo.stages.fail(str(error))

    def program_window(self, title, timeout=30):
        """The X window id of a window whose title holds parentheses (the product's)."""
        try:
            return self.session.find_window(re.escape(title), timeout)
        except DriveError as error:
            self.demo.stages.fail(str(error))

    def exists(self, title):
        return self.probe.controls(title) is not None

    def screenshot(self, name, window_id="root"):
        """Saves build/demo/screenshots/NAME.png: one window, or the whole screen (with boxes)."""
        if not self.demo.arguments.headless:
            return
        path = os.path.join(env.SCREENSHOTS, f"{name}.png")
        self.session.screenshot(window_id, path)
        if window_id == "root":  # only the windows, not the empty screen around them
            env.run_checked(["convert", path, "-trim", "+repage", path], quiet=True, timeout=30)
        say(f"screenshot {os.path.relpath(path, env.ROOT)}")

    def wait_for(self, what, condition, timeout):
        """Polls condition; a failure box, a drive error or the timeout fails the stage."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                boxes = self.probe.boxes()
                for caption, text in boxes:
                    if caption in FAILURE_CAPTIONS or (caption == INSTALLER_TITLE and
                                                       text.startswith("No available server")):
                        self.demo.stages.fail(f'the box "{caption}" says: {text}')
                if condition():
                    return
            except DriveError as error:
                self.demo.stages.fail(f"{what}: {error}")
            if time.monotonic() > deadline:
                shown = "; ".join(f'"{c}": {t}' for c, t in boxes) or "none"
                self.demo.stages.fail(f"no {what} within {timeout} s (message boxes: {shown})")
            time.sleep(0.25)

    def act(self, step):
        """Runs a click or a typing step; a drive error fails the stage."""
        try:
            return step()
        except DriveError as error:
            self.demo.stages.fail(str(error))


def drive_installer(demo):
    stages = demo.stages
    with stages.run("server check", """
            The window shows "Checking..." until the first API server has answered "true", then
            "Server OK"."""):
        drive = Driver(demo)
        window = drive.window(INSTALLER_TITLE)
        drive.wait_for('"Server OK"', lambda: "Server OK" in window.texts(), 40)
        say('status "Server OK"')
        drive.screenshot("01-server-ok", window.window_id)
        if demo.arguments.fault == "stopped-server":
            demo.stop_release_server_on_purpose()

    with stages.run("e-mail", f"""
            Typing {EMAIL} into the e-mail field enables "Download Latest Version" (the text needs
            an @ and a full stop, and a server must have been chosen)."""):
        drive.act(lambda: window.type_into(window.edit(), EMAIL))
        drive.wait_for("enabled Download button",
                       lambda: window.button("Download Latest Version").enabled, 10)
        drive.screenshot("02-email", window.window_id)

    with stages.run("download", """
            Download asks the chosen server for the latest release (the POST with the e-mail
            address and the machine texts), probes the package with HEAD, and fetches it in four
            byte ranges at once."""):
        drive.act(lambda: window.click(window.button("Download Latest Version")))
        drive.wait_for("download past 25 %", lambda: window.bars()[0] >= 25, 60)
        say(f"{window.bars()[0]} % downloaded, {window.label_right_of('Downloaded:')} at "
            f"{window.label_right_of('Speed:')}")
        drive.screenshot("03-downloading", window.window_id)

    with stages.run("pause and resume", """
            Pause holds all four parts (the button turns into Resume), Resume lets them go on;
            then the parts are merged into the package: "Finished!"."""):
        drive.act(lambda: window.click(window.button("Pause")))
        drive.wait_for('"Resume" button', lambda: "Resume" in window.texts(), 10)
        time.sleep(0.5)  # what was in flight arrives
        held = window.label_right_of("Downloaded:")
        time.sleep(2)
        if window.label_right_of("Downloaded:") != held:
            stages.fail(f"the download went on while paused: {held} -> "
                        f"{window.label_right_of('Downloaded:')}")
        say(f"paused: {held} downloaded, and still after 2 s ({window.bars()[0]} %)")
        drive.screenshot("04-paused", window.window_id)
        drive.act(lambda: window.click(window.button("Resume")))
        drive.wait_for('"Pause" button', lambda: "Pause" in window.texts(), 10)
        drive.wait_for('"Finished!"', lambda: "Finished!" in window.texts(), 120)
        say('status "Finished!"')
        drive.screenshot("05-downloaded", window.window_id)

    with stages.run("install", f"""
            With "Install USB driver" ticked, Install expands the package (PowerShell's
            Expand-Archive, a stand-in here), copies its files to {env.INSTALL_ROOT_WINDOWS},
            writes the registry values and shortcuts, and last starts the USB driver tool and
            waits for it: its stand-in shows a box, which the demo closes."""):
        drive.act(lambda: window.click(window.check_box()))
        drive.act(lambda: window.click(window.button("Install")))
        drive.wait_for(f'USB driver tool ("{USB_TOOL_CAPTION}")',
                       lambda: any(c == USB_TOOL_CAPTION for c, _ in drive.probe.boxes()), 120)
        say("the USB driver tool runs; the installer waits for it")
        drive.screenshot("06-usb-driver")
        drive.probe.press_ok(USB_TOOL_CAPTION)
        drive.wait_for('"Install completed."',
                       lambda: (INSTALLER_TITLE, "Install completed.") in drive.probe.boxes(), 60)
        say('"Install completed."')
        drive.screenshot("07-install-completed")
        drive.probe.press_ok(INSTALLER_TITLE)
        drive.wait_for('"Installed!"', lambda: "Installed!" in window.texts(), 10)
        drive.screenshot("08-installed", window.window_id)
        drive.probe.close(INSTALLER_TITLE)


def show_updater(demo):
    stages = demo.stages
    with stages.run("product running", f"""
            The installed Tavro 4.1.0 starts from {env.INSTALL_ROOT_WINDOWS}; its window says
            which version runs, and from where."""):
        drive = Driver(demo)
        demo.start_wine_program([f"{env.INSTALL_ROOT_WINDOWS}/Tavro.exe"], cwd=env.INSTALL_ROOT)
        old = drive.program_window(OLD_PRODUCT_TITLE)
        drive.wait_for("text in the product's window", lambda: drive.probe.controls(
            OLD_PRODUCT_TITLE), 10)
        say(running_text(drive, OLD_PRODUCT_TITLE))
        drive.screenshot("10-old-version", old)

    with stages.run("update prepared", f"""
            The newer version's complete file set goes to {env.INSTALL_ROOT_WINDOWS}/Update/Unpacked,
            where updater mode expects whoever prepared the update to have put it."""):
        target = os.path.join(env.INSTALL_ROOT, "Update", "Unpacked")
        shutil.rmtree(target, ignore_errors=True)
        shutil.copytree(env.UPDATE_FILES, target)
        say(f"{sum(len(names) for _, _, names in os.walk(target))} files")

    with stages.run("updater", """
            TavroInstaller.exe --updater closes the running product and its companion (taskkill),
            waits 5 s, copies the new files over the install root, refreshes the shortcuts, waits
            5 s and starts Tavro again; on success its window closes itself."""):
        demo.start_wine_program([env.INSTALLER, "--updater"], cwd=env.RUN)
        updater = drive.window(UPDATER_TITLE)
        log = lambda: updater._one(lambda c: c.cls == "Edit", "the log").text  # noqa: E731
        drive.wait_for("countdown", lambda: "Continuing in" in log(), 30)
        drive.screenshot("11-updater-waiting", updater.window_id)
        drive.wait_for("copy", lambda: "Update complete." in log(), 60)
        say("the files are copied; Tavro starts again after the second wait")
        drive.screenshot("12-updater-copied", updater.window_id)
        drive.wait_for("updater window closing", lambda: not updater.exists(), 60)
        say("the updater window closed itself: the update succeeded")

    with stages.run("new version running", f"""
            Tavro 4.2.0 must now run from {env.INSTALL_ROOT_WINDOWS}, and 4.1.0 no more."""):
        new = drive.program_window(NEW_PRODUCT_TITLE)
        drive.wait_for("text in the new version's window", lambda: drive.probe.controls(
            NEW_PRODUCT_TITLE), 10)
        text = running_text(drive, NEW_PRODUCT_TITLE)
        say(text)
        if r"c:\quendrel\tavro\tavro.exe" not in text.replace("/", "\\").lower():
            stages.fail(f"Tavro 4.2.0 does not run from the install root: {text}")
        if drive.exists(OLD_PRODUCT_TITLE):
            stages.fail("Tavro 4.1.0 is still running")
        drive.screenshot("13-new-version", new)

    with stages.run("check", """
            The install root must hold the newer version's files, byte for byte."""):
        missing, different = install_report.compare_trees(env.UPDATE_FILES, env.INSTALL_ROOT)
        if missing or different:
            stages.fail("; ".join([f"missing: {p}" for p in missing] +
                                  [f"differs from the update: {p}" for p in different]))
        count = sum(len(names) for _, _, names in os.walk(env.UPDATE_FILES))
        say(f"all {count} files of the update are byte-identical in the install root")

    if not demo.arguments.headless:
        with stages.run("your turn", """
                Tavro 4.2.0 runs on your display. Close its window (or press Ctrl-C) to end the
                demo."""):
            try:
                while drive.exists(NEW_PRODUCT_TITLE):
                    time.sleep(0.5)
            except env.Interrupted:
                say("Ctrl-C: the demo ends here")  # the update was shown: not a failure
    else:
        drive.probe.close(NEW_PRODUCT_TITLE)


def running_text(drive, title):
    """What the product's window says: which version runs from where, on one line."""
    controls = drive.probe.controls(title) or []
    return " ".join(" ".join(c.text.split()) for c in controls if c.text)
