"""The demo's drive of the installer and updater windows, through the shared window driver.

tools/drive/installer_ui.py finds the windows and clicks and types with xdotool; the build's
window reader (tools/winprobe) reads the controls, message boxes and progress bars from inside
the demo prefix. Every wait also watches for the failure boxes, so a failed step ends the demo
at once with the box's text, under the name of its stage.
"""

import os
import shutil
import sys
import time

import demo_env as env
import install_report
from demo_env import say

sys.path.insert(0, os.path.join(env.ROOT, "tools", "drive"))
import installer_ui as ui  # noqa: E402 - found through the path above

INSTALLER_TITLE = "Tavro Installer"
UPDATER_TITLE = "Tavro Updater"
EMAIL = "demo@example.com"
OLD_PRODUCT_TITLE = "Tavro 4.1.0 (build 812)"
NEW_PRODUCT_TITLE = "Tavro 4.2.0 (build 905)"
USB_TOOL_CAPTION = "zadig-2.3.exe"
FAILURE_CAPTIONS = ("Download failed", "Install failed", "Tavro Updater failed")

# Client rectangles (x, y, width, height) of the installer window's controls.
EMAIL_EDIT = (8, 44, 262, 22)
DOWNLOAD_BUTTON = (8, 77, 190, 42)
PAUSE_BUTTON = (214, 77, 190, 42)
STATUS_LABEL = (536, 75, 145, 18)
DOWNLOAD_BAR = (8, 134, 607, 28)
INSTALL_BUTTON = (8, 175, 190, 33)
USB_CHECK_BOX = (214, 183, 18, 17)
SPEED_LABEL = (535, 107, 100, 18)
INSTALL_BAR = (8, 222, 607, 28)
# The updater window's.
UPDATER_STATUS = (18, 53, 420, 20)
UPDATER_LOG = (18, 145, 668, 190)


class Window:
    """One top-level window of the demo: its controls read afresh on every look."""

    def __init__(self, demo, title, timeout=30):
        self.demo = demo
        self.title = title
        self.wid = ui.find_window(title, timeout)
        if self.wid is None:
            demo.stages.fail(f"the window '{title}' did not appear within {timeout} s")

    def control(self, rect):
        for control in ui.controls(self.title):
            if tuple(control["rect"][:2]) == rect[:2]:
                return control
        return None

    def text(self, rect):
        control = self.control(rect)
        return control["text"] if control else ""

    def enabled(self, rect):
        control = self.control(rect)
        return bool(control and control["enabled"])

    def bar(self, rect):
        control = self.control(rect)
        return control["bar"] if control and control.get("bar") is not None else -1

    def click(self, rect):
        ui.click(self.wid, rect)

    def screenshot(self, name, whole_screen=False):
        if not self.demo.arguments.headless:
            return
        path = os.path.join(env.SCREENSHOTS, f"{name}.png")
        ui.screenshot(None if whole_screen else self.wid, path)
        say(f"screenshot {os.path.relpath(path, env.ROOT)}")


def wait_for(demo, what, condition, timeout):
    """Polls condition until it holds; a failure box or the timeout fails the current stage."""
    deadline = time.monotonic() + timeout
    while True:
        for caption, text in ui.message_boxes():
            if caption in FAILURE_CAPTIONS or (caption == INSTALLER_TITLE and
                                               text.startswith("No available server")):
                demo.stages.fail(f'the box "{caption}" says: {text}')
        if condition():
            return
        if time.monotonic() > deadline:
            boxes = "; ".join(f'"{c}": {t}' for c, t in ui.message_boxes()) or "none"
            demo.stages.fail(f"no sign of {what} within {timeout} s (message boxes: {boxes})")
        time.sleep(0.25)


def drive_installer(demo):
    stages = demo.stages
    with stages.run("server check", """
            The window shows "Checking..." until the first API server has answered "true", then
            "Server OK"."""):
        window = Window(demo, INSTALLER_TITLE)
        wait_for(demo, '"Server OK"', lambda: window.text(STATUS_LABEL) == "Server OK", 30)
        say('status "Server OK"')
        window.screenshot("01-server-ok")
        if demo.arguments.fault == "stopped-server":
            demo.stop_release_server_on_purpose()

    with stages.run("e-mail", f"""
            Typing {EMAIL} into the e-mail field enables "Download Latest Version" (the text needs
            an @ and a full stop, and a server must have been chosen)."""):
        ui.type_text(window.wid, EMAIL_EDIT, EMAIL)
        wait_for(demo, "the typed address", lambda: window.text(EMAIL_EDIT) == EMAIL, 10)
        wait_for(demo, "an enabled Download button", lambda: window.enabled(DOWNLOAD_BUTTON), 10)
        window.screenshot("02-email")

    with stages.run("download", """
            Download asks the chosen server for the latest release (the POST with the e-mail
            address and the machine texts), probes the package with HEAD, and fetches it in four
            byte ranges at once."""):
        window.click(DOWNLOAD_BUTTON)
        wait_for(demo, "the download passing 25 %", lambda: window.bar(DOWNLOAD_BAR) >= 25, 60)
        say(f"{window.bar(DOWNLOAD_BAR)} % downloaded, {window.text(SPEED_LABEL)}")
        window.screenshot("03-downloading")

    with stages.run("pause and resume", """
            Pause holds all four parts (the button turns into Resume), Resume lets them go on;
            then the parts are merged into the package: "Finished!"."""):
        window.click(PAUSE_BUTTON)
        wait_for(demo, 'the button "Resume"', lambda: window.text(PAUSE_BUTTON) == "Resume", 10)
        held = window.bar(DOWNLOAD_BAR)
        time.sleep(2)
        after = window.bar(DOWNLOAD_BAR)
        if after > held + 2:
            stages.fail(f"the download went on while paused: {held} % -> {after} %")
        say(f"paused: the bar stayed at {after} % for 2 s")
        window.screenshot("04-paused")
        window.click(PAUSE_BUTTON)
        wait_for(demo, 'the button "Pause"', lambda: window.text(PAUSE_BUTTON) == "Pause", 10)
        wait_for(demo, '"Finished!"', lambda: window.text(STATUS_LABEL) == "Finished!", 120)
        say('status "Finished!"')
        window.screenshot("05-downloaded")

    with stages.run("install", f"""
            With "Install USB driver" ticked, Install expands the package (PowerShell's
            Expand-Archive, a stand-in here), copies its files to {env.INSTALL_ROOT_WINDOWS},
            writes the registry values and shortcuts, and last starts the USB driver tool and
            waits for it: its stand-in shows a box, which the demo closes."""):
        window.click(USB_CHECK_BOX)
        window.click(INSTALL_BUTTON)
        wait_for(demo, f'the USB driver tool ("{USB_TOOL_CAPTION}")',
                 lambda: any(c == USB_TOOL_CAPTION for c, _ in ui.message_boxes()), 120)
        window.screenshot("06-usb-driver", whole_screen=True)
        ui.press_ok(USB_TOOL_CAPTION)
        wait_for(demo, '"Install completed."',
                 lambda: (INSTALLER_TITLE, "Install completed.") in ui.message_boxes(), 60)
        say('"Install completed."')
        window.screenshot("07-installed", whole_screen=True)
        ui.press_ok(INSTALLER_TITLE)
        wait_for(demo, '"Installed!"', lambda: window.text(STATUS_LABEL) == "Installed!", 10)


def show_updater(demo):
    stages = demo.stages
    with stages.run("product running", f"""
            The installed Tavro 4.1.0 starts from {env.INSTALL_ROOT_WINDOWS}; its window says
            which version runs, and from where."""):
        demo.start_wine_program([f"{env.INSTALL_ROOT_WINDOWS}/Tavro.exe"], cwd=env.INSTALL_ROOT)
        old = Window(demo, OLD_PRODUCT_TITLE)
        old.screenshot("10-old-version")

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
        updater = Window(demo, UPDATER_TITLE)
        wait_for(demo, "the countdown", lambda: "Continuing in" in updater.text(UPDATER_LOG), 30)
        updater.screenshot("11-updater-waiting")
        wait_for(demo, "the copy", lambda: "Update complete." in updater.text(UPDATER_LOG), 60)
        updater.screenshot("12-updater-copied")
        wait_for(demo, "the updater window closing",
                 lambda: ui.find_window(UPDATER_TITLE, 0) is None, 60)
        say("the updater window closed itself: the update succeeded")

    with stages.run("new version running", f"""
            Tavro 4.2.0 must now run from {env.INSTALL_ROOT_WINDOWS}, and 4.1.0 no more."""):
        new = Window(demo, NEW_PRODUCT_TITLE, timeout=30)
        running_from = " ".join(c["text"] for c in ui.controls(NEW_PRODUCT_TITLE))
        say(running_from.replace("\r\n", " "))
        normalised = running_from.replace("/", "\\").lower()
        if r"c:\quendrel\tavro\tavro.exe" not in normalised:
            stages.fail(f"Tavro 4.2.0 does not run from the install root: {running_from}")
        if ui.find_window(OLD_PRODUCT_TITLE, 0) is not None:
            stages.fail("Tavro 4.1.0 is still running")
        new.screenshot("13-new-version")

    with stages.run("check", """
            The install root must hold the newer version's files, byte for byte."""):
        missing, different = install_report.compare_trees(env.UPDATE_FILES, env.INSTALL_ROOT)
        if missing or different:
            stages.fail("; ".join([f"missing: {p}" for p in missing] +
                                  [f"differs from the update: {p}" for p in different]))
        say("every file of the update is byte-identical in the install root")

    if not demo.arguments.headless:
        with stages.run("your turn", f"""
                Tavro 4.2.0 runs on your display. Close its window (or press Ctrl-C) to end the
                demo."""):
            while ui.find_window(NEW_PRODUCT_TITLE, 0) is not None:
                time.sleep(0.5)
