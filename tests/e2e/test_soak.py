"""Soak and fault runs: many runs back to back, and parents that close or stop reading
their pipes at awkward moments. After each, the beep, the cursor clip and the hotkeys
must be as they were, and keys must reach windows again."""

import fcntl
import subprocess
import time
import unittest

from harness import (BENCH, BYE, CENTRE_PIXEL, MARKER, NO_CLIP, SESSION_LOCK, STOP, ProbeWindow, Sidecar,
                     after_bye, downs, key_lines, settings)

setUpModule = BENCH.start
tearDownModule = BENCH.stop

# The beep is set on before each test, so the sidecar has something to turn off and back on.
RESTORED = ["1"] + NO_CLIP
LOCKED = ["0"] + CENTRE_PIXEL


def burst(count, background=False):
    """`count` presses of `a` through XTest, optionally left running."""
    args = ["xdotool", "key", "--delay", "4", *["a"] * count]
    if background:
        return BENCH.spawn(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    BENCH.xdo(*args[1:], timeout=150)
    return None


def stop_reading(sidecar):
    # A one-page pipe fills after about a hundred key lines.
    fcntl.fcntl(sidecar.proc.stdout.fileno(), fcntl.F_SETPIPE_SZ, 4096)
    sidecar.out.pause()


class Soak(unittest.TestCase):
    def setUp(self):
        BENCH.probe("set-beep", 1)

    def assert_free(self):
        """Settings back, no hotkey left held."""
        self.assertEqual(settings(), RESTORED)
        self.assertEqual(BENCH.probe("hotkeys-free"), ["free", "16"])

    def assert_keys_pass(self):
        """Nothing reached the window before the marker: every earlier key was swallowed."""
        BENCH.xdo("key", "b")
        self.assertEqual(downs(self.window.until(*MARKER)), [66])

    def open_window(self):
        self.window = ProbeWindow()
        self.addCleanup(self.window.close)

    def test_back_to_back_runs(self):
        for cycle in range(50):
            with self.subTest(cycle=cycle):
                sidecar = Sidecar().expect_ready()
                # Alternates the two ways a parent ends a run.
                if cycle % 2 == 0:
                    sidecar.send(STOP)
                sidecar.close_stdin()
                self.assertEqual(sidecar.finish(), ([BYE], 0))
                if cycle % 10 == 9:
                    self.assertEqual(settings(), RESTORED)
        self.assert_free()
        self.assertEqual(BENCH.probe("session-window"), ["absent"])

    def test_stdin_closed_during_a_key_burst(self):
        self.open_window()
        sidecar = Sidecar().expect_ready()
        BENCH.focus_desktop()
        typing = burst(400, background=True)
        for _ in range(20):  # well into the burst
            self.assertIsNotNone(sidecar.out.line(), "the sidecar ended mid-burst")
        self.assertIsNone(typing.poll(), "the burst ended before stdin was closed")
        sidecar.close_stdin()
        lines, status = sidecar.finish(timeout=60)
        self.assertEqual((after_bye(lines), status), ([], 0))
        typing.wait(120)
        self.assert_free()
        # Presses after bye pass; the marker must come last.
        BENCH.xdo("key", "b")
        self.assertEqual(downs(self.window.until(*MARKER))[-1], 66)

    def test_stdout_closed_before_ready(self):
        for name, ending in [("stop", STOP), ("end of input", b"")]:
            with self.subTest(name):
                sidecar = Sidecar(keep_stdout=False)
                # No `ready` to wait for: the pinned cursor shows the lock is on.
                deadline = time.monotonic() + 20
                while (during := settings()) != LOCKED and time.monotonic() < deadline:
                    time.sleep(0.2)
                self.assertEqual(during, LOCKED)
                sidecar.send(ending)
                sidecar.close_stdin()
                self.assertEqual(sidecar.proc.wait(20), 0)
                self.assert_free()

    def test_parent_not_reading_through_a_long_burst(self):
        self.open_window()
        sidecar = Sidecar().expect_ready()
        stop_reading(sidecar)
        BENCH.focus_desktop()
        burst(1000)
        sidecar.send(STOP)
        sidecar.out.resume()
        lines, status = sidecar.finish(timeout=60)
        self.assertEqual((after_bye(lines), status), ([], 0))
        # Every line whole (key_lines parses them all), and some lost to the full pipe.
        self.assertLess(len(key_lines(lines)), 2000, "the pipe never filled")
        self.assert_free()
        self.assert_keys_pass()

    def test_slow_reader_after_stop_gets_whole_lines(self):
        # The pump holds a batch when `bye` is written; the exit must not cut it off.
        sidecar = Sidecar().expect_ready()
        stop_reading(sidecar)
        BENCH.focus_desktop()
        burst(600)
        sidecar.send(STOP)
        sidecar.out.chunk, sidecar.out.delay = 200, 0.002
        sidecar.out.resume()
        lines, status = sidecar.finish(timeout=90)
        # A fragment would be the last line, after `bye`, or fail to parse.
        self.assertEqual((after_bye(lines), status), ([], 0))
        self.assertGreater(len(key_lines(lines)), 0)

    def test_session_lock_while_stdout_is_full(self):
        self.open_window()
        sidecar = Sidecar().expect_ready()
        stop_reading(sidecar)
        BENCH.focus_desktop()
        burst(300)
        # Synchronous: returns only once the sidecar's window procedure has run.
        self.assertEqual(BENCH.probe("send-session", 7), ["sent"])
        BENCH.focus_desktop()
        BENCH.xdo("key", *["x"] * 20, "Return")
        sidecar.send(STOP)
        sidecar.out.resume()
        lines, status = sidecar.finish(timeout=60)
        self.assertEqual((lines.count(SESSION_LOCK), after_bye(lines), status), (1, [], 0))
        self.assertLess(len(key_lines(lines)), 600, "the pipe never filled")
        self.assert_free()
        self.assert_keys_pass()

    def test_session_locks_counted_while_stdout_is_full(self):
        sidecar = Sidecar().expect_ready()
        stop_reading(sidecar)
        BENCH.focus_desktop()
        burst(300)
        self.assertEqual(BENCH.probe("send-session", 7, 300), ["sent"])
        sidecar.send(STOP)
        sidecar.out.resume()
        lines, status = sidecar.finish(timeout=60)
        # Every lock comes out once the parent reads again, ahead of `bye`.
        self.assertEqual((lines.count(SESSION_LOCK), after_bye(lines), status), (300, [], 0))
        self.assertLess(len(key_lines(lines)), 600, "the pipe never filled")
        self.assert_free()



if __name__ == "__main__":
    unittest.main()
