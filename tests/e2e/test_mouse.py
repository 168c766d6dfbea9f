"""The click gate: only a press held for 500 ms reaches a window, and then 500 ms late."""

import time
import unittest

from harness import BENCH, HEIGHT, WIDTH, ProbeWindow, Sidecar, eventually, inputs, pointer_opaque_pixels

setUpModule = BENCH.start
tearDownModule = BENCH.stop

LEFT, MIDDLE, RIGHT, WHEEL_UP, WHEEL_DOWN, BACK, FORWARD = 1, 2, 3, 4, 5, 8, 9


def hold(button, seconds):
    """Presses and releases an X button; the Unix time in ms of the press."""
    pressed = time.time() * 1000
    BENCH.xdo("mousedown", button)
    time.sleep(seconds)
    BENCH.xdo("mouseup", button)
    return pressed


class ClickGate(unittest.TestCase):
    def setUp(self):
        self.window = ProbeWindow()
        self.addCleanup(self.window.close)
        # Inside the virtual desktop, where the sidecar pins the cursor anyway.
        BENCH.xdo("mousemove", WIDTH // 2, HEIGHT // 2)

    def start(self, diag=None):
        sidecar = Sidecar(diag=diag).expect_ready()
        self.addCleanup(lambda: self.assertEqual(sidecar.stop()[1], 0))

    def assert_held_press_arrives_late(self, button):
        pressed = hold(button, 0.9)
        events = self.window.until("button-up", button)
        self.assertEqual(inputs(events), [("button-down", button), ("button-up", button)])
        delay = next(ms for ms, kind, _ in events if kind == "button-down") - pressed
        self.assertTrue(350 <= delay <= 800, f"press arrived {delay:.0f} ms after it was made")

    def test_held_press_arrives_late_then_its_release(self):
        self.start()
        for button in (LEFT, RIGHT):
            with self.subTest(button=button):
                self.assert_held_press_arrives_late(button)

    def test_short_click_wheel_middle_and_side_buttons_never_arrive(self):
        self.start()
        for button in (LEFT, RIGHT, WHEEL_UP, WHEEL_DOWN, MIDDLE, BACK, FORWARD):
            BENCH.xdo("click", button)
        hold(MIDDLE, 0.9)
        time.sleep(0.7)  # past the gate's window, so the next press starts afresh
        # Anything swallowed above would show up before this press.
        self.assert_held_press_arrives_late(LEFT)

    def test_diagnostic_mode_passes_a_short_click(self):
        self.start(diag="1")
        BENCH.xdo("click", LEFT)
        self.assertEqual(inputs(self.window.until("button-up", LEFT)), [("button-down", LEFT), ("button-up", LEFT)])

    def test_burst_of_clicks_starts_no_thread(self):
        self.start()
        threads = BENCH.probe("sidecar-threads")
        BENCH.xdo("click", "--repeat", 40, "--delay", 10, LEFT)
        # Taken while the quick clicks' 500 ms are still running.
        during = BENCH.probe("sidecar-threads")
        self.assert_held_press_arrives_late(LEFT)
        self.assertEqual((during, BENCH.probe("sidecar-threads")), (threads, threads))


class Shield(unittest.TestCase):
    """The screen during the lock, seen from outside: the X server's pointer image, the
    window under each point, and the foreground."""

    def setUp(self):
        self.window = ProbeWindow()
        self.addCleanup(self.window.close)
        # Over the probe window, whose arrow the X server then shows.
        BENCH.xdo("mousemove", WIDTH // 2, HEIGHT // 2)
        BENCH.xdo("mousemove", WIDTH // 2 + 1, HEIGHT // 2)
        self.assertGreater(eventually(lambda: pointer_opaque_pixels() > 0, True), 0, "no pointer before the run")

    def screen(self):
        return (pointer_opaque_pixels() > 0, BENCH.probe("windows-at-points"), BENCH.probe("foreground"))

    def test_pointer_hidden_and_screen_covered_while_locked(self):
        sidecar = Sidecar().expect_ready()
        locked = (False, ["sidecar"] * 5, ["VelmoraProbeWindow"])
        self.assertEqual(eventually(self.screen, locked), locked)
        self.assertEqual(sidecar.stop()[1], 0)
        free = (True, ["other"] * 5, ["VelmoraProbeWindow"])
        self.assertEqual(eventually(self.screen, free), free)

    def test_pen_and_touch_gestures_off_and_no_foreground_taken_without_a_touch_screen(self):
        sidecar = Sidecar().expect_ready()
        # Press-and-hold, pen tap and barrel feedback, flicks, smooth scrolling and flick
        # fallback keys: the answer another process gets from the shield.
        self.assertEqual(BENCH.probe("gesture-status"), ["0x00190019"])
        # Wine has no touch screen, so the shield leaves the foreground where it was.
        self.assertEqual(BENCH.probe("foreground"), ["VelmoraProbeWindow"])
        self.assertEqual(sidecar.stop()[1], 0)

    def test_diagnostic_mode_leaves_screen_alone(self):
        sidecar = Sidecar(diag="1").expect_ready()
        self.assertEqual(self.screen(), (True, ["other"] * 5, ["VelmoraProbeWindow"]))
        self.assertEqual(sidecar.stop()[1], 0)


if __name__ == "__main__":
    unittest.main()
