"""Keys, hotkeys and session locks: real X input, observed by the probe window."""

import fcntl
import unittest

from bench import BENCH, STOP, ProbeWindow, Sidecar, inputs, key_lines

setUpModule = BENCH.start
tearDownModule = BENCH.stop

BYE = '{"event":"bye"}'
KEYS = ["a", "Return", "alt+x"]
# What the hook sees: the left Alt, not the generic VK_MENU a window gets.
REPORTED = [(65, True), (65, False), (13, True), (13, False), (164, True), (88, True), (164, False), (88, False)]
WINDOW_DOWNS = [65, 13, 18, 88]
MARKER = ("key-up", 66)  # `b`: once the window has it, every earlier key has been delivered


def downs(events):
    return [value for kind, value in inputs(events) if kind == "key-down"]


class Keyboard(unittest.TestCase):
    def setUp(self):
        self.window = ProbeWindow()
        self.addCleanup(self.window.close)

    def test_keys_reported_and_swallowed_then_passed_after_bye(self):
        sidecar = Sidecar().expect_ready()
        BENCH.focus_desktop()
        BENCH.xdo("key", *KEYS)
        lines, status = sidecar.stop()
        self.assertEqual((key_lines(lines), lines[-1], status), (REPORTED, BYE, 0))
        BENCH.xdo("key", *KEYS, "b")
        self.assertEqual(downs(self.window.until(*MARKER)), WINDOW_DOWNS + [66])
        # Hotkeys left registered after a run would keep their keys from every program.
        self.assertEqual(BENCH.probe("hotkeys-free"), ["free", "16"])

    def test_diagnostic_mode_passes_and_reports_keys(self):
        sidecar = Sidecar(diag="1").expect_ready()
        BENCH.focus_desktop()
        BENCH.xdo("key", *KEYS, "b")
        self.assertEqual(downs(self.window.until(*MARKER)), WINDOW_DOWNS + [66])
        lines, status = sidecar.stop()
        self.assertEqual((key_lines(lines), status), (REPORTED + [(66, True), (66, False)], 0))

    def test_hotkeys_held_in_diagnostic_mode_volume_passes(self):
        sidecar = Sidecar(diag="1").expect_ready()
        BENCH.focus_desktop()
        # Xvfb has keysyms for all but three of them; those come from the probe.
        BENCH.xdo("key", "XF86AudioMute", "XF86AudioNext", "XF86AudioPrev", "XF86AudioPlay", "XF86AudioStop",
                  "XF86Back", "XF86Forward", "XF86Refresh", "XF86Stop", "XF86Search", "XF86Favorites",
                  "XF86Mail", "XF86AudioMedia")
        BENCH.probe("send-keys", 0xAC, 0xB6, 0xB7)
        BENCH.xdo("key", "XF86AudioRaiseVolume", "XF86AudioLowerVolume", "b")
        # A hotkey takes the press; its release still reaches the window, as on Windows.
        events = self.window.until(*MARKER)
        self.assertEqual(downs(events), [0xAF, 0xAE, 66])
        self.assertEqual([v for k, v in inputs(events) if k == "appcommand"], [10, 9])  # volume up, down
        self.assertEqual(sidecar.stop()[1], 0)

    def test_session_lock_reported_once(self):
        sidecar = Sidecar().expect_ready()
        self.assertEqual(BENCH.probe("send-session", 7), ["sent"])
        self.assertEqual(sidecar.out.line(), '{"event":"session-lock"}')
        for code in (8, 1):  # unlock, console connect: not reported
            self.assertEqual(BENCH.probe("send-session", code), ["sent"])
        self.assertEqual(sidecar.stop(), ([BYE], 0))
        self.assertEqual(BENCH.probe("session-window"), ["absent"])

    def test_session_locks_in_a_row(self):
        sidecar = Sidecar().expect_ready()
        self.assertEqual(BENCH.probe("send-session", 7, 300), ["sent"])
        lines, status = sidecar.stop()
        self.assertEqual((lines.count('{"event":"session-lock"}'), lines[-1], status), (300, BYE, 0))

    def test_parent_that_stops_reading(self):
        sidecar = Sidecar().expect_ready()
        # A small pipe fills after a few dozen lines; the key channel behind it after 256 more.
        fcntl.fcntl(sidecar.proc.stdout.fileno(), fcntl.F_SETPIPE_SZ, 4096)
        sidecar.out.pause()
        BENCH.focus_desktop()
        BENCH.xdo("key", "--delay", "4", *["a"] * 300, timeout=120)
        sidecar.send(STOP)
        sidecar.out.resume()
        lines, status = sidecar.finish(timeout=60)
        self.assertEqual((lines[-1], status), (BYE, 0))
        self.assertLess(len(key_lines(lines)), 600, "the pipe never filled")
        BENCH.xdo("key", "b")
        self.assertEqual(downs(self.window.until(*MARKER)), [66])


if __name__ == "__main__":
    unittest.main()
