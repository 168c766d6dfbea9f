"""Keys, hotkeys and session locks: real X input, observed by the probe window."""

import tempfile
import time
import unittest

from harness import BENCH, BYE, MARKER, SESSION_LOCK, ProbeWindow, Sidecar, downs, inputs, key_lines

setUpModule = BENCH.start
tearDownModule = BENCH.stop

KEYS = ["a", "Return", "alt+x"]
# What the hook sees: the left Alt, not the generic VK_MENU a window gets.
REPORTED = [(65, True), (65, False), (13, True), (13, False), (164, True), (88, True), (164, False), (88, False)]
# While the shield covers the pointer, Wine sends XTest keys to the shield's thread, not to the
# focused window, so a key that got past the hook would not show there. Keys injected from a
# second process still go to the focused window: they prove the swallowing.
INJECTED = 0x43  # `c`
WINDOW_DOWNS = [65, 13, 18, 88]


class Keyboard(unittest.TestCase):
    def setUp(self):
        self.window = ProbeWindow()
        self.addCleanup(self.window.close)

    def test_keys_reported_and_swallowed_then_passed_after_bye(self):
        sidecar = Sidecar().expect_ready()
        BENCH.focus_desktop()
        BENCH.xdo("key", *KEYS)
        BENCH.probe("send-keys", INJECTED)
        lines, status = sidecar.stop()
        self.assertEqual((key_lines(lines), lines[-1], status), (REPORTED + [(INJECTED, True), (INJECTED, False)], BYE, 0))
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
        self.assertEqual((lines.count(SESSION_LOCK), lines[-1], status), (300, BYE, 0))

    def test_input_the_hooks_see_is_never_taken_for_a_lost_hook(self):
        # Raw keyboard and mouse input arrives alongside the hooks' calls: over more than a
        # second of typing and moving, no fresh pair is called for and no line said.
        with tempfile.TemporaryFile() as err:
            sidecar = Sidecar(stderr=err).expect_ready()
            BENCH.focus_desktop()
            until = time.monotonic() + 2.5
            while time.monotonic() < until:
                BENCH.xdo("key", "a", "mousemove_relative", "--", 5, 5)
            lines, status = sidecar.stop()
            err.seek(0)
            self.assertEqual((status, err.read().decode()), (0, ""))
        self.assertGreater(len(key_lines(lines)), 10)


if __name__ == "__main__":
    unittest.main()
