"""The end of the user's session while the lock holds: every setting is back before the
process can be ended, and a run that is not ended ends on its own with bye and status 0."""

import unittest

from harness import BENCH, BYE, CENTRE_PIXEL, NO_CLIP, Sidecar, settings

setUpModule = BENCH.start
tearDownModule = BENCH.stop


class EndOfSession(unittest.TestCase):
    def test_end_called_off_then_real_end(self):
        # The probe sends what the system sends, so the sidecar is not ended afterwards.
        BENCH.probe("set-beep", 1)
        sidecar = Sidecar().expect_ready()
        self.assertEqual(BENCH.probe("close-shield"), ["present"], "a close request is refused")
        self.assertEqual(BENCH.probe("end-session", 0), ["query", "1"])
        self.assertEqual(settings(), ["0"] + CENTRE_PIXEL, "a called-off end changes nothing")
        self.assertEqual(BENCH.probe("end-session", 1), ["query", "1"])
        self.assertEqual(settings(), ["1"] + NO_CLIP, "back before the message was answered")
        # Standard input stays open: the run ends by itself.
        self.assertEqual(sidecar.finish(), ([BYE], 0))
        self.assertEqual(BENCH.probe("hotkeys-free"), ["free", "16"])

    def test_no_window_in_diagnostic_mode(self):
        sidecar = Sidecar(diag="1").expect_ready()
        self.assertEqual(BENCH.probe("shield"), ["absent"])
        self.assertEqual(sidecar.stop(), ([BYE], 0))

    def test_wineboot_end_session(self):
        BENCH.probe("set-beep", 1)
        sidecar = Sidecar().expect_ready()
        self.assertEqual(BENCH.probe("beep"), ["0"])
        BENCH.end_session()
        self.assertEqual(settings(), ["1"] + NO_CLIP)
        # Wine ends each process once its windows have answered (with status 0); one that
        # outlives that has written bye.
        lines, status = sidecar.finish()
        self.assertIn(lines, ([], [BYE]))
        self.assertEqual(status, 0)


if __name__ == "__main__":
    unittest.main()
