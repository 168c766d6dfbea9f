"""Start to `ready` and stop to `bye` of two builds of the sidecar, interleaved in one run under
Wine, so that both see the same machine. Figures only, nothing asserted.

  python3 bench/wine/compare_lifecycle.py BEFORE.exe AFTER.exe [RUNS] [SETTLE_S]

The stop is sent the moment `ready` is read, or SETTLE_S seconds later (a parent's stop comes
late in a run, once everything a run starts has settled).

Run from the repository with the end-to-end bench's environment (VELMORA_SIDECAR_EXE,
VELMORA_PROBE_EXE, VELMORA_E2E_WORK, VELMORA_WINEPREFIX, as CTest sets them)."""

import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "e2e"))
from harness import BENCH, STOP, Stream  # noqa: E402

WARMUP = 2


def lifecycle(exe, settle):
    """Milliseconds from start to `ready` and from the stop line to `bye`."""
    started = time.monotonic()
    proc = BENCH.spawn(["wine", exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = Stream(proc.stdout)
    assert out.line() == '{"event":"ready"}'
    ready = time.monotonic()
    time.sleep(settle)
    stopped = time.monotonic()
    proc.stdin.write(STOP)
    proc.stdin.flush()
    assert out.line() == '{"event":"bye"}'
    bye = time.monotonic()
    proc.wait(10)
    return (ready - started) * 1000, (bye - stopped) * 1000


def main():
    builds = {"before": sys.argv[1], "after": sys.argv[2]}
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 10
    settle = float(sys.argv[4]) if len(sys.argv) > 4 else 0.0
    figures = {name: ([], []) for name in builds}
    BENCH.start()
    try:
        for run in range(WARMUP + runs):
            for name, exe in builds.items():
                start, stop = lifecycle(exe, settle)
                if run >= WARMUP:
                    figures[name][0].append(start)
                    figures[name][1].append(stop)
    finally:
        BENCH.stop()
    for name, (start, stop) in figures.items():
        print(f"{name}: start to ready median {statistics.median(start):.0f} ms; "
              f"stop to bye median {statistics.median(stop):.0f} ms ({builds[name]})")


if __name__ == "__main__":
    main()
