"""A killed sidecar, a second one beside it, and kills at any moment of a run: the watcher puts
every setting back, the parent's pipe ends at once, one sidecar runs at a time, and no process
of the executable is left behind. Where both processes die, the journal puts the settings back
at the next start."""

import json
import os
import random
import signal
import subprocess
import tempfile
import time
import unittest

from harness import BENCH, BYE, CENTRE_PIXEL, NO_CLIP, SIDECAR, STOP, Sidecar, eventually, key_lines, settings

setUpModule = BENCH.start
tearDownModule = BENCH.stop

# The beep is set on before each test, so the sidecar has something to turn off and back on.
RESTORED = ["1"] + NO_CLIP
LOCKED = ["0"] + CENTRE_PIXEL
ALREADY_RUNNING = 103


def processes():
    """Processes of the executable: the sidecar and its watcher."""
    return int(BENCH.probe("processes", "velmora-sidecar.exe")[0])


def process_ids():
    """{pid: parent} of every process of the executable."""
    words = BENCH.probe("process-ids", "velmora-sidecar.exe")
    return {int(words[i]): int(words[i + 1]) for i in range(0, len(words), 2)}


def watcher_id():
    ids = process_ids()
    watchers = [pid for pid, parent in ids.items() if parent in ids]
    assert len(watchers) == 1, ids
    return watchers[0]


def restore_only():
    """A restore-only run: its output lines, its standard error and its exit status."""
    env = dict(BENCH.env, VELMORA_RESTORE_ONLY="1")
    # Files, not pipes: Wine services started along the way would hold a pipe open.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        done = subprocess.run(["wine", SIDECAR], env=env, timeout=30, stdin=subprocess.DEVNULL, stdout=out,
                              stderr=err)
        out.seek(0)
        err.seek(0)
        return out.read().decode().splitlines(), err.read().decode(), done.returncode


def await_watcher():
    """Until the watcher holds its lock, so runs. Under Wine, CreateProcess keeps the new process
    suspended until the call is over (some tens of ms after `ready`); a creator killed meanwhile
    leaves it suspended for good, which no program can mend."""
    assert eventually(lambda: BENCH.probe("instance-lock"), ["held"], timeout=5) == ["held"]


def kill(sidecar):
    # SIGKILL of a Wine process is what TerminateProcess is on Windows.
    if sidecar.proc.poll() is None:
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
        await_watcher()
        self.assertEqual(settings(), LOCKED)
        self.assertEqual(processes(), 2, "the sidecar and its watcher")
        kill(sidecar)
        started = time.monotonic()
        self.assertEqual(sidecar.out.rest(timeout=5), [])
        self.assertLess(time.monotonic() - started, 1.5, "the watcher holds the parent's pipe")
        self.assert_put_back()

    def test_killed_as_soon_as_its_watcher_runs(self):
        # The watcher's process starts after `ready`, and the record waits in its pipe: a kill
        # the moment the watcher runs is put back within about a second.
        for _ in range(3):
            sidecar = Sidecar().expect_ready()
            await_watcher()
            kill(sidecar)
            self.assertEqual(eventually(settings, RESTORED, timeout=1.5), RESTORED)
            self.assertEqual(eventually(processes, 0, timeout=5), 0)

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
        await_watcher()
        kill(first)
        second = Sidecar().expect_ready()
        self.assertEqual(second.stop()[1], 0)
        self.assert_put_back()

    def test_watcher_ended_alone_frees_nothing(self):
        # Task Manager shows two processes; ending the one that is not the parent's child must
        # not let a second run save the changed settings as its originals.
        first = Sidecar().expect_ready()
        await_watcher()
        BENCH.probe("terminate", watcher_id())
        self.assertEqual(eventually(processes, 1, timeout=5), 1)
        second = Sidecar()
        self.assertEqual(second.finish(timeout=20), ([], ALREADY_RUNNING))
        self.assertEqual(settings(), LOCKED, "the first still locks")
        self.assertEqual(first.stop()[1], 0)
        self.assert_put_back()

    def test_both_killed_then_next_start_puts_back(self):
        for next_start in ("sidecar", "restore-only"):
            with self.subTest(next_start=next_start):
                first = Sidecar().expect_ready()
                await_watcher()
                # The watcher first, so that nothing of the run is left to put anything back.
                watcher = watcher_id()
                BENCH.probe("terminate", watcher, *(pid for pid in process_ids() if pid != watcher))
                first.proc.wait(10)
                self.assertEqual(eventually(processes, 0, timeout=5), 0)
                self.assertEqual(BENCH.probe("beep"), ["0"], "nothing of the run put the beep back")
                if next_start == "sidecar":
                    second = Sidecar().expect_ready()
                    self.assertEqual(second.stop()[1], 0)
                else:
                    lines, err, status = restore_only()
                    self.assertEqual((lines, status), ([BYE], 0))
                    self.assertIn("put back the settings left changed by a run that did not finish", err)
                self.assert_put_back()

    def test_restore_only_with_nothing_left(self):
        started = time.monotonic()
        lines, err, status = restore_only()
        self.assertEqual((lines, err, status), ([BYE], "", 0))
        self.assertLess(time.monotonic() - started, 5)
        self.assertEqual(settings(), RESTORED)

    def test_clean_run_leaves_nothing_for_restore_only(self):
        # A run that ended well deletes its journal: a restore-only run after it finds nothing.
        first = Sidecar().expect_ready()
        self.assertEqual(first.stop()[1], 0)
        self.assert_put_back()
        self.assertEqual(restore_only(), ([BYE], "", 0))

    def test_restore_only_while_a_run_locks(self):
        first = Sidecar().expect_ready()
        lines, err, status = restore_only()
        self.assertEqual((lines, status), ([], ALREADY_RUNNING))
        self.assertEqual(err.strip(), "velmora-sidecar: another sidecar is already running")
        self.assertEqual(settings(), LOCKED)
        self.assertEqual(first.stop()[1], 0)
        self.assert_put_back()

    def test_two_started_together(self):
        # A double click in the parent: one locks, the other is refused before it hooks
        # anything, so every key typed right after `ready` reaches the winner.
        pair = [Sidecar(), Sidecar()]
        first_lines = [s.out.line(30) for s in pair]
        winners = [s for s, line in zip(pair, first_lines) if line == '{"event":"ready"}']
        self.assertEqual(len(winners), 1, first_lines)
        winner = winners[0]
        loser = pair[1 - pair.index(winner)]
        keys = [0x41 + i for i in range(20)]
        BENCH.probe("send-keys", *keys)
        self.assertEqual(loser.proc.wait(20), ALREADY_RUNNING)
        lines, status = winner.stop()
        self.assertEqual(status, 0)
        self.assertEqual([vk for vk, down in key_lines(lines) if down], keys)
        self.assert_put_back()

    def test_kill_storm(self):
        # Kills at random moments of the start-up, of the lock and of the shutdown.
        chance = random.Random(20261209)
        for round_number in range(20):
            with self.subTest(round=round_number):
                sidecar = Sidecar()
                late = False
                if chance.random() < 0.3:
                    try:  # during the start-up, where no watcher exists yet
                        started = sidecar.out.line(timeout=chance.uniform(0.01, 0.6))
                    except AssertionError:
                        started = None
                    if started is not None:
                        await_watcher()  # `ready` came first: not while the watcher is being made
                    else:
                        late = True
                else:
                    sidecar.expect_ready()
                    await_watcher()
                    if chance.random() < 0.5:
                        sidecar.send(STOP)  # during the shutdown
                        time.sleep(chance.uniform(0, 0.08))
                    else:
                        time.sleep(chance.uniform(0, 0.3))
                kill(sidecar)
                if late:
                    # Killed before its watcher ran, maybe once the settings were changed (from
                    # just before `ready` until the watcher is made): the journal holds the record,
                    # and the restore-only run a parent makes at its next start puts it back. A
                    # watcher that Wine was still making stays suspended; no program can mend that.
                    leftover = process_ids()
                    if leftover:
                        BENCH.probe("terminate", *leftover)
                    self.assertEqual(restore_only()[2], 0)
                self.assert_put_back()


if __name__ == "__main__":
    unittest.main()
