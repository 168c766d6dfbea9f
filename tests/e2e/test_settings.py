"""System settings seen from a second process: the beep and the cursor clip, and the
diagnostic mode that leaves both alone."""

import unittest

from bench import BENCH, HEIGHT, WIDTH, Sidecar

setUpModule = BENCH.start
tearDownModule = BENCH.stop

CENTRE_PIXEL = [str(v) for v in (WIDTH // 2, HEIGHT // 2, WIDTH // 2 + 1, HEIGHT // 2 + 1)]
NO_CLIP = ["0", "0", str(WIDTH), str(HEIGHT)]


class SystemSettings(unittest.TestCase):
    def test_beep_and_clip_during_and_after_the_run(self):
        # (beep before, VELMORA_DIAG, diagnostic): only exactly "1" is diagnostic mode.
        cases = [(1, None, False), (0, None, False), (1, "1", True), (0, "1", True),
                 (1, "0", False), (1, " 1", False), (1, "", False)]
        for beep, diag, diagnostic in cases:
            with self.subTest(beep=beep, diag=diag):
                BENCH.probe("set-beep", beep)
                sidecar = Sidecar(diag=diag).expect_ready()
                during = BENCH.probe("beep") + BENCH.probe("clip")
                self.assertEqual(sidecar.stop(), (['{"event":"bye"}'], 0))
                after = BENCH.probe("beep") + BENCH.probe("clip")
                self.assertEqual(during, [str(beep)] + NO_CLIP if diagnostic else ["0"] + CENTRE_PIXEL)
                self.assertEqual(after, [str(beep)] + NO_CLIP)


if __name__ == "__main__":
    unittest.main()
