"""A killed sidecar, a second one beside it, and kills at any moment of a run: the watcher puts
every setting back, the parent's pipe ends at once, one sidecar runs at a time, and no process
of the executable is left behind."""

import os
import random
import signal
import time
import unittest

from harness import BENCH, CENTRE_PIXEL, NO_CLIP, STOP, Sidecar, eventually, settings

setUpModule = BENCH.start
tearDownModule = BENCH.stop

# The beep is set on before each test, so the sidecar has something to turn off and back on.
RESTORED = ["1"] + NO_CLIP
LOCKED = ["0"] + CENTRE_PIXEL
ALREADY_RUNNING = 103


def processes():
    """Processes of the executable: the sidecar and its watcher."""
    return int(BENCH.probe("processes", "velmora-sidecar.exe")[0])


def kill(sidecar):
    # SIGKILL of a Wine process is what TerminateProcess is on Windows.
    os.kill(sidecar.proc.pid, signal.SIGKILL)
    sidecar.proc.wait(10)


class Watcher(unittest.TestCase):
    def setUp(self):
        self.assertEqual(eventually(processes, 0, timeout=10), 0)
        BENCH.probe("set-beep", 1)

    def assert_put_back(self):
        """Within 2 s every setting is back; within 5 s no process of ours is left."""
        self.assertEqual(eventually(settings, RESTORED, timeout=2), RESTORED)
        self.assertEqual(eventually(processes, 0, timeout=5), 0)

    def test_killed_while_locked(self):
        sidecar = Sidecar().expect_ready()
        self.assertEqual(settings(), LOCKED)
        self.assertEqual(processes(), 2, "the sidecar and its watcher")
        kill(sidecar)
        started = time.monotonic()
        self.assertEqual(sidecar.out.rest(timeout=5), [])
        self.assertLess(time.monotonic() - started, 1.5, "the watcher holds the parent's pipe")
        self.assert_put_back()

    def test_second_sidecar_is_refused(self):
        first = Sidecar().expect_ready()
        second = Sidecar()
        self.assertEqual(second.finish(timeout=20), ([], ALREADY_RUNNING))
        # A run in progress is waited for before any window: the refused one never touched the clip.
        self.assertEqual(settings(), LOCKED, "the first still locks")
        self.assertEqual(first.stop()[1], 0)
        self.assert_put_back()

    def test_killed_then_started_again_at_once(self):
        first = Sidecar().expect_ready()
        kill(first)
        second = Sidecar().expect_ready()
        self.assertEqual(second.stop()[1], 0)
        self.assert_put_back()

    def test_kill_storm(self):
        # Kills at random moments of the start-up, of the lock and of the shutdown.
        chance = random.Random(20261209)
        for round_number in range(20):
            with self.subTest(round=round_number):
                sidecar = Sidecar()
                if chance.random() < 0.3:
                    time.sleep(chance.uniform(0, 0.6))  # during the start-up
                else:
                    sidecar.expect_ready()
                    if chance.random() < 0.5:
                        sidecar.send(STOP)  # during the shutdown
                        time.sleep(chance.uniform(0, 0.08))
                    else:
                        time.sleep(chance.uniform(0, 0.3))
                kill(sidecar)
                self.assert_put_back()


if __name__ == "__main__":
    unittest.main()
