"""The main window: moved by the sensor tick by tick, kept where the user puts it, started and ended."""

import re
import time

import harness
from harness import DisplayTest, TITLE, wait_for

# Ticks of 50 ms. The rest at the start leaves time to see where the window first stands; a phase is
# long enough to be seen between two looks at the window.
REST = 100
PHASE = 40


def script(*steps):
    """A scripted sensor: the calibration read and the constructor's read at 0/0, a rest, then `steps`."""
    lines = ["1 1 0 0", "1 1 0 0", f"{REST} 1 0 0"] + [" ".join(map(str, step)) for step in steps]
    return "\n".join(lines) + "\n"


def follow(program, offsets):
    """Watches the main window go through `offsets` (from where it first stands) in order and end at
    the last. A tick moves the left edge before the top, so a stop with the next left edge and the
    present top on the way is passed over; any other position fails at once."""
    origin = program.position()
    assert offsets[0] == (0, 0)
    trail = [(0, 0)]
    at = 0

    def moved():
        nonlocal at
        x, y = program.position()
        seen = (x - origin[0], y - origin[1])
        if seen != trail[-1]:
            trail.append(seen)
        if seen == offsets[at]:
            return at == len(offsets) - 1
        following = offsets[at + 1]
        if seen == following:
            at += 1
            return at == len(offsets) - 1
        if seen != (following[0], offsets[at][1]):
            raise AssertionError(f"the window went through {trail}, expected {offsets}")
        return False

    program.wait(moved, lambda: f"the window to move through {offsets}; it went through {trail}")


class Readings(DisplayTest):
    """The scripted sensor, read once a tick."""

    def test_the_window_moves_by_the_change_of_displacement_and_returns_at_rest(self):
        # First axis 25 moves the window 10 down, second axis 4 moves it 4 right; at rest it returns.
        program = self.start(sensor="scripted", script=script((PHASE, 1, 25, 4), (1, 1, 0, 0)))
        follow(program, [(0, 0), (4, 10), (0, 0)])
        self.quit(program)

    def test_a_failed_read_does_not_move_the_window_and_the_program_goes_on(self):
        # 20 down; then readings that would mean 4 right and 10 down arrive with a failing read; then
        # 20 right and back up.
        for action in ("throw", "segv"):
            with self.subTest(action=action):
                program = self.start(sensor="scripted",
                                     script=script((PHASE, 1, 100, 0), (PHASE, 1, 25, 4, action), (1, 1, 0, 100)))
                follow(program, [(0, 0), (0, 20), (20, 0)])
                self.assertEqual(program.windows("DIALOG"), [], "a failed read is no error to show")
                self.quit(program)


class UserAndDialogs(DisplayTest):
    """The simulator, whose readings the test sets when it likes."""

    def moved_by(self, program, origin, dx, dy, what):
        program.wait(lambda: program.position() == (origin[0] + dx, origin[1] + dy), what)

    def test_a_move_by_the_user_is_kept(self):
        program = self.start(sensor="simulator", readings=(1000, 1000))
        origin = program.position()
        program.set_readings(1025, 1004)
        self.moved_by(program, origin, 4, 10, "the sensor to move the window")

        main = program.main_window()
        x, y = program.position()
        self.display.xdotool("windowmove", main.id, str(x + 50), str(y + 30))

        def moved_away():
            where = program.position()
            return where if where != (x, y) else None

        placed = program.wait(moved_away, "the user's move")
        # Twenty ticks with the same readings leave it there.
        deadline = time.monotonic() + 1.0
        while time.monotonic() < deadline:
            self.assertEqual(program.position(), placed)
            time.sleep(harness.POLL)
        # Back at rest, it moves by the change only: from the user's place, not back to the origin.
        program.set_readings(1000, 1000)
        self.moved_by(program, placed, -4, -10, "the window to go back by the displacement")
        self.quit(program)

    def test_ticks_go_on_while_a_dialog_or_an_error_box_is_open(self):
        program = self.start(sensor="simulator", readings=(1000, 1000))
        origin = program.position()

        program.menu("o")
        dialog = program.dialog("Open")
        program.set_readings(1025, 1004)
        self.moved_by(program, origin, 4, 10, "the window to move while the Open dialog is open")
        self.assertIn(dialog.id, [w.id for w in program.windows("DIALOG")])
        program.cancel("Open", program.files / "no-folder" / "never.txt")

        program.open(program.files / "missing.txt")
        box = program.error_box()
        program.set_readings(1000, 1000)
        self.moved_by(program, origin, 0, 0, "the window to move while the error box is open")
        self.assertIn(box.id, [w.id for w in program.windows("DIALOG")])
        program.dismiss(box)
        self.quit(program)


class Startup(DisplayTest):

    def test_a_failing_calibration_read_shows_one_error_box_and_ends(self):
        cases = {
            "throw": "外部例外が発生しました.",
            "segv": re.compile(r"Access violation at address 0x[0-9a-f]+ in module 'Sensor\.dll'\. "
                               r"Write of address 0x10\."),
        }
        for action, text in cases.items():
            with self.subTest(action=action):
                program = self.start(sensor="scripted", script=f"1 1 0 0 {action}\n")

                def only_the_box():
                    windows = program.windows()
                    self.assertFalse([w for w in windows if w.kind != "DIALOG"], "no other window may show")
                    self.assertLessEqual(len(windows), 1, "one error box only")
                    return windows

                box = program.wait(only_the_box, "the error box")[0]
                self.assertEqual(box.name, TITLE)
                program.assert_box_text(box, text)
                program.dismiss(box)
                wait_for(lambda: program.process.poll() is not None or self.assertEqual(program.windows(), []),
                         "the program to end")
                self.assertEqual(program.wait_exit(), 0)
                self.assertEqual(program.printed(), "")


class NoSensor(DisplayTest):

    def test_without_a_sensor_the_editor_works_and_the_window_stays(self):
        # No Sensor.dll at all, or one without the entry point.
        for sensor in (None, "noentry"):
            with self.subTest(sensor=sensor or "none"):
                program = self.start(sensor=sensor)
                origin = program.position()
                program.type("typed")
                program.key("Return")
                program.type("line")
                target = program.files / "typed.txt"
                program.save(target)
                self.assertFileBytes(target, b"typed\r\nline", program)
                self.assertEqual(program.position(), origin)
                self.assertEqual(program.windows("DIALOG"), [])
                self.quit(program)


class Closing(DisplayTest):

    def test_quit_and_the_close_box_end_the_program_at_once(self):
        for how in ("Quit", "close box"):
            with self.subTest(how=how):
                program = self.start(sensor="scripted")
                program.type("never saved")
                if how == "Quit":
                    program.menu("q")
                else:
                    # openbox closes the active window on Alt+F4, as its close box does.
                    program.key("alt+F4")
                self.assertEqual(program.wait_exit(), 0)
                self.assertEqual(program.printed(), "")


if __name__ == "__main__":
    harness.main()
