"""System settings seen from a second process: the beep and the cursor clip, and the
diagnostic mode that leaves both alone."""

import unittest

from harness import BENCH, BYE, CENTRE_PIXEL, NO_CLIP, Sidecar, settings

setUpModule = BENCH.start
tearDownModule = BENCH.stop


class SystemSettings(unittest.TestCase):
    def test_beep_and_clip_during_and_after_the_run(self):
        # (beep before, VELMORA_DIAG, diagnostic): only exactly "1" is diagnostic mode.
        cases = [(1, None, False), (0, None, False), (1, "1", True), (0, "1", True),
                 (1, "0", False), (1, " 1", False), (1, "", False)]
        for beep, diag, diagnostic in cases:
            with self.subTest(beep=beep, diag=diag):
                BENCH.probe("set-beep", beep)
                sidecar = Sidecar(diag=diag).expect_ready()
                during = settings()
                self.assertEqual(sidecar.stop(), ([BYE], 0))
                after = settings()
                self.assertEqual(during, [str(beep)] + NO_CLIP if diagnostic else ["0"] + CENTRE_PIXEL)
                self.assertEqual(after, [str(beep)] + NO_CLIP)


if __name__ == "__main__":
    unittest.main()
