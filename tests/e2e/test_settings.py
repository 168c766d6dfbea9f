"""System settings seen from a second process: the beep and the cursor clip, and the
diagnostic mode that leaves both alone; the lock kept in place while it holds."""

import subprocess
import unittest

from harness import BENCH, BYE, CENTRE_PIXEL, NO_CLIP, PROBE, SIDECAR, Sidecar, Stream, settings

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

    def test_clip_and_shield_kept_in_place_until_given_back(self):
        sidecar = Sidecar().expect_ready()
        # Another program frees the clip, then shows a topmost window over the screen: within
        # a second the clip is the centre pixel again and the shield is above that window.
        self.assertEqual(BENCH.probe("free-clip", 1000), NO_CLIP + CENTRE_PIXEL)
        self.assertEqual(BENCH.probe("topmost-window", 1000), ["probe", "sidecar"])
        self.assertEqual(sidecar.stop(), ([BYE], 0))
        self.assertEqual(BENCH.probe("free-clip", 1000), NO_CLIP + NO_CLIP)
        # At the end of the session the hook thread frees the cursor and runs on for a while:
        # its timer never confines it again.
        sidecar = Sidecar().expect_ready()
        self.assertEqual(BENCH.probe("end-session", 1), ["query", "1"])
        self.assertEqual(BENCH.probe("free-clip", 1000), NO_CLIP + NO_CLIP)
        self.assertEqual(sidecar.finish(), ([BYE], 0))

    def test_the_parents_topmost_window_stays_above_the_shield(self):
        # A parent that starts the sidecar through a launcher owning no window (cmd /c),
        # then shows a small topmost window of its own in the top-left corner, above the
        # shield: after a second it is still there, the shield has not covered it.
        host = BENCH.spawn(["wine", PROBE, "host-sidecar", SIDECAR, "1500"], stdin=subprocess.PIPE,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        out = Stream(host.stdout)
        self.assertEqual(out.line(40), "ready")
        self.assertEqual(out.line(20), "corner parent")
        # Another program's topmost window over the whole screen still goes under the
        # shield, and the parent's window stays above both.
        self.assertEqual(BENCH.probe("topmost-window", 1000, 100, 100), ["probe", "sidecar", "other"])
        host.stdin.write(b"go on\n")
        host.stdin.flush()
        self.assertEqual(out.line(20), "corner parent")
        self.assertEqual(out.line(30), "stopped 0")
        self.assertEqual(host.wait(20), 0)


if __name__ == "__main__":
    unittest.main()
