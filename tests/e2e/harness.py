"""Runs the real program on a private X display and drives it as a person would.

Each test class gets its own Xvfb and openbox; each test a fresh folder holding a copy of the program
with the sensor library it asks for (and that library's script) beside it, a fresh HOME and runtime
folder, and an empty LD_LIBRARY_PATH so no other Sensor.dll is ever found. Window positions come
from xdotool and are compared as moves only. Every process started here is ended on every path: by
the cleanups, and by the kernel should the test runner itself be killed.

The paths of the program and of the sensor libraries come from the environment (set by CTest):
KESTRANE_PROGRAM, KESTRANE_FIXTURE_SCRIPTED, KESTRANE_FIXTURE_NOENTRY and KESTRANE_SIMULATOR.
"""

import ctypes
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

# Seconds to wait for any one thing to happen. Generous: CI has two slow cores, runs tests in
# parallel and runs them again under AddressSanitizer.
TIMEOUT = 60.0
POLL = 0.03

TITLE = "Kestrane"

LIBRARIES = {
    "scripted": "KESTRANE_FIXTURE_SCRIPTED",
    "noentry": "KESTRANE_FIXTURE_NOENTRY",
    "simulator": "KESTRANE_SIMULATOR",
}

_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1


def _die_with_runner():
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


def spawn(args, env, **kwargs):
    """Starts a process that the kernel kills should this runner die first."""
    kwargs.setdefault("stdin", subprocess.DEVNULL)
    return subprocess.Popen(args, env=env, preexec_fn=_die_with_runner, **kwargs)


def end(process, grace=10.0):
    """Ends a process started here, politely first, and reaps it."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(grace)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def wait_for(condition, what, timeout=TIMEOUT):
    """Polls `condition` until it returns something true, and returns that. `what` names the awaited
    thing for the failure, as a string or as a function that tells what was seen meanwhile."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"waited {timeout:.0f} s in vain for {what() if callable(what) else what}")
        time.sleep(POLL)


def required_path(variable):
    value = os.environ.get(variable)
    if not value or not Path(value).is_file():
        raise unittest.SkipTest(f"{variable} does not name a built file; run these tests through CTest")
    return Path(value)


class Window:
    def __init__(self, wid, name, kind):
        self.id = wid
        self.name = name
        self.kind = kind  # the first _NET_WM_WINDOW_TYPE, without its prefix: NORMAL, DIALOG, ...

    def __repr__(self):
        return f"<{self.kind} window {self.id} {self.name!r}>"


class Display:
    """An Xvfb display of its own, with openbox managing its windows."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.processes = []
        self.clipboard_owner = None
        home = self.folder / "home"
        home.mkdir()
        try:
            number = self._start_xvfb()
            self.name = f":{number}"
            self.env = {
                "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                "DISPLAY": self.name,
                "HOME": str(home),
                "LANG": "C.UTF-8",
            }
            wait_for(lambda: self.run("xdpyinfo", check=False).returncode == 0, f"display {self.name} to answer")
            with open(self.folder / "openbox.log", "wb") as log:
                openbox = spawn(["openbox", "--sm-disable"], self.env, stdout=log, stderr=log)
            self.processes.append(openbox)

            def managing():
                if openbox.poll() is not None:
                    log_text = (self.folder / "openbox.log").read_text(errors="replace").strip()
                    raise AssertionError(f"openbox ended at start: {log_text}")
                return self._window_manager_running()

            wait_for(managing, "openbox to manage the display")
        except BaseException:
            self.close()
            raise

    def _start_xvfb(self):
        readable, writable = os.pipe()
        try:
            with open(self.folder / "xvfb.log", "wb") as log:
                self.processes.append(
                    spawn(["Xvfb", "-displayfd", str(writable), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
                           "-noreset"],
                          os.environ.copy(), pass_fds=(writable,), stdout=log, stderr=log))
            os.close(writable)
            writable = -1
            text = b""
            deadline = time.monotonic() + TIMEOUT
            while not text.endswith(b"\n"):
                if not select.select([readable], [], [], max(0.0, deadline - time.monotonic()))[0]:
                    raise AssertionError("Xvfb told no display number in time")
                chunk = os.read(readable, 64)
                if not chunk:
                    log_text = (self.folder / "xvfb.log").read_text(errors="replace")
                    raise AssertionError(f"Xvfb ended without a display: {log_text}")
                text += chunk
            return int(text)
        finally:
            os.close(readable)
            if writable >= 0:
                os.close(writable)

    def _window_manager_running(self):
        result = self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK", check=False)
        return "window id" in result.stdout

    def close(self):
        self._end_clipboard_owner()
        for process in reversed(self.processes):
            end(process)
        self.processes.clear()

    def run(self, *args, check=True):
        result = subprocess.run(args, env=self.env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=TIMEOUT)
        if check and result.returncode != 0:
            raise AssertionError(f"{' '.join(args)} failed ({result.returncode}): {result.stderr.strip()}")
        return result

    def xdotool(self, *args):
        return self.run("xdotool", *args).stdout

    def windows_of(self, pid):
        """The visible windows of a process, in stacking order."""
        found = self.run("xdotool", "search", "--onlyvisible", "--pid", str(pid), check=False).stdout.split()
        windows = []
        for wid in found:
            props = self.run("xprop", "-id", wid, "_NET_WM_WINDOW_TYPE", "_NET_WM_NAME", check=False)
            if props.returncode != 0:
                continue  # gone meanwhile
            kind = re.search(r"_NET_WM_WINDOW_TYPE_(\w+)", props.stdout)
            name = re.search(r'_NET_WM_NAME\(UTF8_STRING\) = "(.*)"', props.stdout)
            windows.append(Window(wid, name.group(1) if name else "", kind.group(1) if kind else ""))
        return windows

    def _geometry(self, wid):
        shell = self.xdotool("getwindowgeometry", "--shell", wid)
        return {key: int(value) for key, value in (line.split("=", 1) for line in shell.split())}

    def position(self, wid):
        """Where a window's client area stands, as xdotool reports it: good for comparing moves."""
        g = self._geometry(wid)
        return g["X"], g["Y"]

    def size(self, wid):
        g = self._geometry(wid)
        return g["WIDTH"], g["HEIGHT"]

    def key(self, *keys):
        self.xdotool("key", "--clearmodifiers", *keys)

    def type(self, text):
        """Types into the focused window. xdotool types a character outside the keyboard map by
        mapping a spare key to it for a moment, which the program may read only after the next
        such change; so text with such characters goes through the clipboard whole instead."""
        if text.isascii():
            self.xdotool("type", "--clearmodifiers", "--delay", "15", text)
        else:
            self.paste(text)

    def paste(self, text):
        """Offers `text` on the clipboard and pastes it with Ctrl+V. Its owner, xclip, stays until
        the next paste or the end, since the program asks for the text after the key arrives."""
        self._end_clipboard_owner()
        self.clipboard_owner = spawn(["xclip", "-quiet", "-selection", "clipboard", "-i"], self.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.clipboard_owner.stdin.write(text.encode())
        self.clipboard_owner.stdin.close()
        wait_for(lambda: self.run("xclip", "-selection", "clipboard", "-o", check=False).stdout == text,
                 "the clipboard to offer the text")
        self.key("ctrl+v")

    def _end_clipboard_owner(self):
        if self.clipboard_owner is not None:
            end(self.clipboard_owner)
            self.clipboard_owner = None

    def primary_selection(self):
        result = self.run("xclip", "-selection", "primary", "-o", check=False)
        return result.stdout if result.returncode == 0 else None


class Program:
    """A copy of the program in a fresh folder, running on a display until the test ends."""

    def __init__(self, test, display, sensor=None, script=None, readings=None, locale="C.UTF-8"):
        self.test = test
        self.display = display
        self.folder = Path(tempfile.mkdtemp(prefix="kestrane-e2e-"))
        test.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)
        app = self.folder / "app"
        home = self.folder / "home"
        self.runtime = self.folder / "runtime"
        empty = self.folder / "no-libraries"
        for d in (app, home, self.runtime, empty):
            d.mkdir(mode=0o700)
        self.files = self.folder / "files"
        self.files.mkdir()
        shutil.copy2(required_path("KESTRANE_PROGRAM"), app / "kestrane")
        if sensor:
            shutil.copy2(required_path(LIBRARIES[sensor]), app / "Sensor.dll")
        if script is not None:
            (app / "Sensor.script").write_text(script)
        if readings is not None:
            self.set_readings(*readings)
        env = {
            "PATH": display.env["PATH"],
            "DISPLAY": display.name,
            "HOME": str(home),
            "XDG_RUNTIME_DIR": str(self.runtime),
            "LANG": locale,
            "LC_ALL": locale,
            "LD_LIBRARY_PATH": str(empty),
            # Qt and fontconfig keep memory until exit by design.
            "ASAN_OPTIONS": "detect_leaks=0",
            "UBSAN_OPTIONS": "print_stacktrace=1",
        }
        self.output = self.folder / "output.log"
        with open(self.output, "wb") as log:
            self.process = spawn([str(app / "kestrane")], env, cwd=self.files, stdout=log, stderr=log)
        test.addCleanup(end, self.process)
        self.pid = self.process.pid
        self._main = None
        self._keyboard = False

    # The simulator's shared file: magic, version, then the first axis in the low half of a word and
    # the second in the high half. Put in place whole, so no tick reads half of it.
    def set_readings(self, first, second):
        data = struct.pack("=III", 0x4B534E31, 1, first | second << 16)
        partial = self.runtime / "kestrane-sensor.new"
        partial.write_bytes(data)
        os.replace(partial, self.runtime / "kestrane-sensor")

    def printed(self):
        return self.output.read_text(errors="replace").strip()

    def alive(self):
        if self.process.poll() is not None:
            raise AssertionError(f"the program ended with exit code {self.process.returncode}; "
                                 f"it printed: {self.printed() or 'nothing'}")
        return True

    def wait(self, condition, what, timeout=TIMEOUT):
        return wait_for(lambda: self.alive() and condition(), what, timeout)

    def wait_exit(self, timeout=TIMEOUT):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"the program did not end within {timeout:.0f} s") from None

    def windows(self, kind=None, name=None):
        return [w for w in self.display.windows_of(self.pid)
                if (kind is None or w.kind == kind) and (name is None or w.name == name)]

    def main_window(self):
        return self.wait(lambda: next(iter(self.windows("NORMAL", TITLE)), None), "the main window")

    def dialog(self, name):
        """The modal window called `name`: "Open", "Save As", or the error box (named like the program)."""
        return self.wait(lambda: next(iter(self.windows("DIALOG", name)), None), self._seen(f"a window {name!r}"))

    def _seen(self, what):
        """Names an awaited thing for a failure, with the windows the program shows by then."""
        return lambda: f"{what}; the program shows {self.windows()}"

    def wait_closed(self, window):
        """Waits until `window` is gone, or the whole program (closing it may end the program). Once a
        dialog is gone the main window takes the keyboard back, which is awaited before typing."""
        wait_for(lambda: self.process.poll() is not None or all(w.id != window.id for w in self.windows()),
                 self._seen(f"{window} to close"))
        if window.kind == "DIALOG":
            self._keyboard = False

    def position(self):
        if self._main is None:
            self._main = self.main_window()
        return self.display.position(self._main.id)

    def activate(self, window):
        self.display.xdotool("windowactivate", "--sync", window.id)

    def type(self, text):
        self.await_keyboard()
        self.activate(self.main_window())
        self.display.type(text)

    def key(self, *keys):
        self.await_keyboard()
        self.activate(self.main_window())
        self.display.key(*keys)

    def await_keyboard(self):
        """Waits until the program takes keys: a key that arrives while it is still starting may go
        unseen. The File menu opening on Alt+F shows it takes them. Escape closes the menu, and once
        it is gone (and with it its hold on the keyboard) another leaves the menu bar, which would
        otherwise take the next letters as access keys."""
        if not self._keyboard:
            popup = self._open_menu()
            self.display.key("Escape")
            self.wait_closed(popup)
            self.display.key("Escape")
            self._keyboard = True

    def _open_menu(self):
        """Opens the File menu with Alt+F and returns its window: the one other window of the
        program (its window type is not set again each time it opens). Alt+F is pressed again when
        no menu opens for long: a slow program would take the second press as well, and close the
        menu again."""
        main = self.main_window()
        # A window that outlives its dialog (the file-name completer's list) must not pass for the menu.
        self.wait(lambda: all(w.id == main.id for w in self.windows()), self._seen("the main window alone"))
        deadline = time.monotonic() + TIMEOUT
        while True:
            self.activate(main)
            self.display.key("alt+f")
            retry = min(deadline, time.monotonic() + 15)
            while time.monotonic() < retry:
                self.alive()
                popup = next((w for w in self.windows() if w.id != main.id and w.kind != "DIALOG"), None)
                if popup:
                    return popup
                time.sleep(POLL)
            if time.monotonic() >= deadline:
                raise AssertionError(f"waited {TIMEOUT:.0f} s in vain for the File menu to open on Alt+F")

    def menu(self, access_key):
        """Chooses a File menu item by its access key, the way the keyboard does: Alt+F, then the key."""
        self.await_keyboard()
        popup = self._open_menu()
        self.display.key(access_key)
        self.wait_closed(popup)

    def _fill(self, dialog, text):
        """Puts `text` into the file dialog's name field, and makes sure it is there (Select All copies
        the field into the primary selection): keys sent the moment a dialog appears may go unseen."""
        self.activate(dialog)
        deadline = time.monotonic() + TIMEOUT
        while True:
            self.display.key("ctrl+a")
            self.display.type(text)
            self.display.key("ctrl+a")
            try:
                return self.wait(lambda: self.display.primary_selection() == text, "the name field", timeout=5)
            except AssertionError:
                self.alive()
                if time.monotonic() > deadline:
                    raise AssertionError(f"the {dialog.name} dialog's name field never held {text!r}") from None

    def choose_file(self, dialog_name, path):
        """Types a full path into the file dialog's name field and confirms it with Enter."""
        dialog = self.dialog(dialog_name)
        self._fill(dialog, str(path))
        self.display.key("Return")
        self.wait_closed(dialog)

    def take_offer(self, dialog_name, name):
        """Checks that the file dialog offers the file `name` and confirms it with Enter alone."""
        dialog = self.dialog(dialog_name)
        self.activate(dialog)

        def offered():
            self.display.key("ctrl+a")
            return self.display.primary_selection() == name

        try:
            self.wait(offered, f"the {dialog_name} dialog to offer {name!r}", timeout=TIMEOUT / 4)
        except AssertionError:
            self.alive()
            raise AssertionError(f"the {dialog_name} dialog offers {self.display.primary_selection()!r}, "
                                 f"expected {name!r}") from None
        self.display.key("Return")
        self.wait_closed(dialog)

    def cancel(self, dialog_name, typed):
        """Types a path into the file dialog's name field, then cancels with Escape. The path should
        name no file or folder: the list of completions would take the Escape."""
        dialog = self.dialog(dialog_name)
        self._fill(dialog, str(typed))
        self.display.key("Escape")
        self.wait_closed(dialog)

    def open(self, path):
        self.menu("o")
        self.choose_file("Open", path)

    def save(self, path):
        self.menu("s")
        self.choose_file("Save As", path)

    def error_box(self):
        return self.dialog(TITLE)

    def box_text(self, box):
        """The error box's text. The box has no copy command on this platform, so its label is
        triple-clicked, which selects its whole text into the primary selection."""
        # The label starts right of the 32-pixel icon; its first line is 18 pixels down.
        self.display.xdotool("mousemove", "--window", box.id, "80", "18", "click", "--repeat", "3", "--delay", "60", "1")
        return self.display.primary_selection()

    def assert_box_text(self, box, expected):
        """Checks the box's text: a string to equal, or a compiled pattern to match in full."""
        matches = (lambda t: t is not None and expected.fullmatch(t)) if isinstance(expected, re.Pattern) \
            else (lambda t: t == expected)
        seen = None
        deadline = time.monotonic() + TIMEOUT / 4
        while time.monotonic() < deadline:
            self.alive()
            seen = self.box_text(box)
            if matches(seen):
                return
            time.sleep(0.3)
        raise AssertionError(f"the error box says {seen!r}, expected {expected!r}")

    def dismiss(self, box):
        """Clicks OK, which stands in the box's bottom right corner. The mouse reaches the button
        whichever window the program thinks has the keyboard."""
        width, height = self.display.size(box.id)
        self.display.xdotool("mousemove", "--window", box.id, str(width - 50), str(height - 22), "click", "1")
        self.wait_closed(box)


class DisplayTest(unittest.TestCase):
    """A test class with a display of its own."""

    @classmethod
    def setUpClass(cls):
        folder = tempfile.mkdtemp(prefix="kestrane-e2e-display-")
        cls.addClassCleanup(shutil.rmtree, folder, ignore_errors=True)
        cls.display = Display(folder)
        cls.addClassCleanup(cls.display.close)

    def start(self, **kwargs):
        return Program(self, self.display, **kwargs)

    def quit(self, program):
        """Quits through the menu: the program ends with exit code 0, having printed nothing."""
        program.menu("q")
        self.assertEqual(program.wait_exit(), 0, program.printed())
        self.assertEqual(program.printed(), "")

    def assertFileBytes(self, path, expected, program=None):
        """Waits for `path` (str, bytes or Path) to hold exactly `expected`: a save is done when its
        file is in place."""
        def current():
            try:
                with open(path, "rb") as file:
                    return file.read()
            except FileNotFoundError:
                return None
        waiter = program.wait if program else wait_for
        try:
            waiter(lambda: current() == expected, f"{path} to hold the expected bytes", timeout=TIMEOUT / 2)
        except AssertionError:
            if program:
                program.alive()  # a program that ended says so first
            self.assertEqual(current(), expected, f"bytes of {path}")


def main():
    """Runs the tests named on the command line (or all); exits 77 when every test was skipped."""
    program = unittest.main(module="__main__", exit=False, verbosity=2)
    result = program.result
    if not result.wasSuccessful():
        sys.exit(1)
    if result.testsRun and len(result.skipped) == result.testsRun:
        sys.exit(77)
    sys.exit(0)
