"""Drives the installer's window as a person would, for the end-to-end tests and the headless demo
(never shipped): xdotool clicks and types on the X display, tools/winprobe reads the controls back
(texts, enabled state, bar values, message boxes) from inside the same Wine prefix.

    session = WineSession(prefix, home, display)
    with Probe(session, "build/mingw/tools/winprobe.exe") as probe:
        installer = session.start("build/mingw/bin/TavroInstaller.exe")
        window = InstallerWindow(session, probe, "Tavro Installer")
        window.wait_for_text("Server OK", 20)
        window.type_into(window.edit(), "demo@example.com")
        window.click(window.button("Download Latest Version"))
"""

import dataclasses
import os
import subprocess
import time

DEFAULT_DLL_OVERRIDES = "winemenubuilder.exe=d;mscoree=d;mshtml=d"


class DriveError(RuntimeError):
    """A step of the drive did not happen: the text says which and what was seen instead."""


@dataclasses.dataclass(frozen=True)
class Control:
    """One child window as winprobe saw it (client coordinates of its parent)."""

    cls: str
    id: int
    x: int
    y: int
    w: int
    h: int
    enabled: bool
    bar: int | None
    text: str

    @property
    def centre(self):
        return self.x + self.w // 2, self.y + self.h // 2


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"\\": "\\", "t": "\t", "r": "\r", "n": "\n"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def parse_control(line):
    _, cls, ident, rect, enabled, bar, text = line.split("\t", 6)
    x, y, w, h = (int(v) for v in rect.split(","))
    return Control(cls, int(ident), x, y, w, h, enabled == "1",
                   None if bar == "-" else int(bar), unescape(text))


class WineSession:
    """One Wine prefix on one X display: the environment every program of a drive runs in."""

    def __init__(self, prefix, home, display):
        self.env = dict(os.environ)
        # The test run sets WINEDEBUG=-all for everything; TAVRO_WINEDEBUG (e.g. +seh) reaches the
        # programs a drive starts, when one is to be traced.
        self.env.update(WINEPREFIX=str(prefix), HOME=str(home), DISPLAY=display,
                        WINEDEBUG=os.environ.get("TAVRO_WINEDEBUG", self.env.get("WINEDEBUG", "-all")),
                        WINEDLLOVERRIDES=self.env.get("WINEDLLOVERRIDES", DEFAULT_DLL_OVERRIDES))

    def start(self, exe, *args, log=None):
        """Starts a Windows program; its output goes to log (a path) or nowhere."""
        out = open(log, "ab") if log else subprocess.DEVNULL
        try:
            return subprocess.Popen(["wine", str(exe), *args], env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        finally:
            if log:
                out.close()

    def xdotool(self, *args, timeout=30):
        done = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                              timeout=timeout)
        if done.returncode != 0:
            raise DriveError(f"xdotool {' '.join(args)} failed: {done.stderr.strip()}")
        return done.stdout

    def find_windows(self, title):
        """The X window ids of every top-level window titled exactly title (a message box may
        carry its program window's title)."""
        found = subprocess.run(["xdotool", "search", "--name", f"^{title}$"], env=self.env,
                               capture_output=True, text=True)
        return found.stdout.split()

    def find_window(self, title, timeout):
        """The X window id of the top-level window titled exactly title."""
        deadline = time.monotonic() + timeout
        while True:
            found = subprocess.run(["xdotool", "search", "--name", f"^{title}$"], env=self.env,
                                   capture_output=True, text=True)
            ids = found.stdout.split()
            if ids:
                return ids[-1]
            if time.monotonic() >= deadline:
                raise DriveError(f'no window titled "{title}" within {timeout} s')
            time.sleep(0.2)

    def screenshot(self, window_id, path):
        subprocess.run(["import", "-window", window_id, str(path)], env=self.env, check=True,
                       capture_output=True, timeout=30)


class Probe:
    """A running winprobe: one command a line, answers up to a line "."."""

    def __init__(self, session, winprobe_exe):
        self._process = subprocess.Popen(["wine", str(winprobe_exe)], env=session.env,
                                         stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         stderr=subprocess.DEVNULL, text=True, encoding="cp1252",
                                         errors="replace")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        if self._process.poll() is None:
            try:
                self._process.stdin.write("quit\n")
                self._process.stdin.close()
                self._process.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                self._process.kill()
                self._process.wait()

    def ask(self, command):
        self._process.stdin.write(command + "\n")
        self._process.stdin.flush()
        lines = []
        while True:
            line = self._process.stdout.readline()
            if not line:
                raise DriveError(f"winprobe ended while answering '{command}'")
            line = line.rstrip("\r\n")
            if line == ".":
                return lines
            lines.append(line)

    def controls(self, title):
        """The children of the window titled title, or None while it does not exist."""
        lines = self.ask(f"controls {title}")
        if lines == ["none"]:
            return None
        return [parse_control(line) for line in lines if line.startswith("C\t")]

    def frame(self, title):
        """(outer width, outer height, style, (client x, client y)) of the window, or None; the
        client origin is relative to the outer top left."""
        lines = self.ask(f"frame {title}")
        if lines == ["none"]:
            return None
        _, width, height, style, origin = lines[0].split("\t")
        x, y = (int(v) for v in origin.split(","))
        return int(width), int(height), int(style, 16), (x, y)

    def focus(self, title):
        """(class, id, text) of the window's control that has the keyboard focus; None when none
        of its controls has it (or the window is missing)."""
        lines = self.ask(f"focus {title}")
        if lines in (["none"], ["K\t-"]):
            return None
        _, cls, ident, text = lines[0].split("\t", 3)
        return cls, int(ident), unescape(text)

    def boxes(self):
        """The message boxes on the desktop as (caption, text)."""
        return [tuple(unescape(part) for part in line.split("\t")[1:3])
                for line in self.ask("boxes") if line.startswith("B\t")]

    def press_ok(self, caption):
        return self.ask(f"ok {caption}") == ["done"]

    def press_yes(self, caption):
        return self.ask(f"yes {caption}") == ["done"]

    def close(self, title):
        """Asks the top-level window titled title to close, as its close box would."""
        return self.ask(f"close {title}") == ["done"]


def wait_until(check, timeout, what, interval=0.2):
    """Polls check until it returns something true; its last value, or DriveError naming what."""
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise DriveError(f"{what}: not within {timeout} s")
        time.sleep(interval)


class InstallerWindow:
    """The program's window in either mode, found by its title."""

    def __init__(self, session, probe, title, timeout=30):
        self.session, self.probe, self.title = session, probe, title
        self.window_id = session.find_window(title, timeout)
        wait_until(lambda: self.probe.controls(title), timeout, f'the controls of "{title}"')
        self._client_origin = self._x_client_origin()

    def _x_client_origin(self):
        """Where the client area starts in the X window: at its corner under a window manager
        (which draws the frame), past Wine's own frame when the window is unmanaged."""
        width, height, _, origin = self.probe.frame(self.title)
        geometry = self.session.xdotool("getwindowgeometry", self.window_id)
        size = geometry.split("Geometry:")[1].split()[0]
        x_width, x_height = (int(v) for v in size.split("x"))
        return origin if (x_width, x_height) == (width, height) else (0, 0)

    def controls(self):
        found = self.probe.controls(self.title)
        if found is None:
            raise DriveError(f'the window "{self.title}" is gone')
        return found

    def exists(self):
        return self.probe.controls(self.title) is not None

    def _one(self, predicate, what):
        matches = [c for c in self.controls() if predicate(c)]
        if len(matches) != 1:
            raise DriveError(f"{what}: {len(matches)} controls match")
        return matches[0]

    def button(self, text):
        return self._one(lambda c: c.cls == "Button" and c.text == text, f'button "{text}"')

    def edit(self):
        return self._one(lambda c: c.cls == "Edit", "the edit control")

    def check_box(self):
        return self._one(lambda c: c.cls == "Button" and c.h < 20, "the check box")

    def bars(self):
        return [c.bar for c in self.controls() if c.bar is not None]

    def label_right_of(self, caption):
        """The label on the same line right of a caption label ("Downloaded:", "Speed:")."""
        controls = self.controls()
        anchor = next(c for c in controls if c.cls == "Static" and c.text == caption)
        beside = [c for c in controls if c.cls == "Static" and c.y == anchor.y and c.x > anchor.x]
        return min(beside, key=lambda c: c.x).text

    def texts(self):
        return [c.text for c in self.controls()]

    def click(self, control):
        """A mouse click at the control's centre."""
        x, y = control.centre
        x, y = x + self._client_origin[0], y + self._client_origin[1]
        self.session.xdotool("mousemove", "--window", self.window_id, str(x), str(y),
                             "click", "1")

    def type_into(self, edit, text):
        """Clicks into the edit and types; Wine ignores keys sent to an unfocused window, and an
        unmanaged one (no window manager) gets the X focus only when it is given explicitly."""
        self.session.xdotool("windowfocus", "--sync", self.window_id)
        self.click(edit)
        time.sleep(0.2)
        held = self._one(lambda c: c.id == edit.id, "the edit").text
        if held:  # Wine's edit has no select-all key: erase from the end
            self.session.xdotool("key", "End", *["BackSpace"] * len(held))
        self.session.xdotool("type", "--delay", "30", text)
        read = lambda: self._one(lambda c: c.id == edit.id, "the edit").text  # noqa: E731
        try:
            wait_until(lambda: read() == text, 10, f'the edit reading "{text}"')
        except DriveError as error:
            raise DriveError(f'{error}; it reads "{read()}"') from None

    def give_keyboard(self):
        """Gives the window the X keyboard focus. X refuses it (BadMatch) while the window is
        not yet viewable, so this tries again for a while, looking the window up anew."""
        def attempt():
            try:
                self.session.xdotool("windowfocus", "--sync", self.window_id)
                return True
            except DriveError:
                self.window_id = self.session.find_window(self.title, 10)
                return False
        wait_until(attempt, 10, f'the keyboard focus for "{self.title}"', interval=0.3)

    def keys(self, *keys):
        """Presses keys (xdotool key names: "Tab", "shift+Tab", "Return", "space") in the window,
        which gets the X keyboard focus first; no mouse is used."""
        self.give_keyboard()
        for key in keys:
            self.session.xdotool("key", "--delay", "60", key)

    def type_keys(self, text):
        """Types text into whatever control of the window has the focus."""
        self.give_keyboard()
        self.session.xdotool("type", "--delay", "30", text)

    def focused(self):
        """(class, id, text) of the control with the keyboard focus, or None."""
        return self.probe.focus(self.title)

    def wait_for_focus(self, ident, timeout=5):
        return wait_until(lambda: (self.focused() or (None, None))[1] == ident, timeout,
                          f"the focus on the control with id {ident}")

    def wait_for_text(self, text, timeout):
        return wait_until(lambda: text in self.texts(), timeout, f'"{text}" in "{self.title}"')

    def wait_for_box(self, caption, timeout):
        """(caption, text) of the message box with that caption once it shows."""
        return wait_until(lambda: next((b for b in self.probe.boxes() if b[0] == caption), None),
                          timeout, f'a message box "{caption}"')

    def screenshot(self, path):
        self.session.screenshot(self.window_id, path)
