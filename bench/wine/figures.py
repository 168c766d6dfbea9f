#!/usr/bin/env python3
"""Wine figures for the sidecar, each against a baseline measured in the same run.

- key latency: XTest press (native presser, one process) to the `key` line read here, for the
  sidecar and for hook_floor.exe (a hook that writes its line itself); idle, then again with
  `--load` CPU-bound processes keeping the cores busy (more presses, for a steadier p95),
  with the Linux nice values Wine gave the sidecar's threads (whether it honours
  SetThreadPriority);
- start-up to `ready` and stop to `bye` / exit, against minimal_gui.exe (starts, writes a line,
  exits);
- executable size, stripped, against minimal_gui.exe stripped.

Expects DISPLAY (an Xvfb with a Wine virtual desktop) and WINEPREFIX in the environment; run
through run_figures.sh. Prints figures, asserts nothing. Ends only the processes it starts.
"""

import argparse
import math
import os
import platform
import queue
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

STOP = b'{"cmd":"stop"}\n'
KEY_VK = 65  # the presser sends the "a" key


def now_ns():
    # Same clock as the presser's CLOCK_MONOTONIC stamps.
    return time.monotonic_ns()


class WineProgram:
    """One `wine exe` child: its lines, stamped on arrival, and its exit time."""

    def __init__(self, exe):
        self.spawned_ns = now_ns()
        self.proc = subprocess.Popen(["wine", exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.lines = queue.Queue()
        self.exit_ns = None
        self.exited = threading.Event()
        threading.Thread(target=self._read, daemon=True).start()
        threading.Thread(target=self._wait, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put((now_ns(), line.strip()))
        self.lines.put((now_ns(), None))

    def _wait(self):
        # A blocking wait returns at the exit itself; Popen.wait(timeout) would poll.
        self.proc.wait()
        self.exit_ns = now_ns()
        self.exited.set()

    def next_line(self, want, timeout):
        """Stamp of the first line equal to `want` within `timeout` seconds, or None."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            try:
                stamp, line = self.lines.get(timeout=left)
            except queue.Empty:
                return None
            if line is None:
                return None
            if line == want:
                return stamp

    def stop(self, timeout=20):
        """Sends stop; returns (stop sent, bye seen, exit) stamps, bye/exit None if missing."""
        sent = now_ns()
        try:
            self.proc.stdin.write(STOP)
            self.proc.stdin.close()
        except BrokenPipeError:
            pass
        bye = self.next_line(b'{"event":"bye"}', timeout)
        self.exited.wait(timeout)
        return sent, bye, self.exit_ns

    def end(self):
        """Kills the child if it is still there (only ever this child)."""
        if not self.exited.is_set():
            self.proc.kill()
            self.exited.wait(10)


def key_line(down):
    return b'{"down":%s,"event":"key","vk":%d}' % (b"true" if down else b"false", KEY_VK)


def focus_desktop():
    """Gives the Wine desktop the X focus so XTest keys reach Wine; False if not found."""
    try:
        found = subprocess.run(["xdotool", "search", "--name", "Wine desktop"], capture_output=True,
                               timeout=10, text=True).stdout.split()
        if not found:
            return False
        subprocess.run(["xdotool", "windowfocus", found[0]], capture_output=True, timeout=10)
        return True
    except subprocess.TimeoutExpired:
        return False


class Presser:
    def __init__(self, path):
        self.proc = subprocess.Popen([path, "a"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def send(self, command):
        """Press ("d") or release ("u"); returns the presser's stamp taken before the request."""
        self.proc.stdin.write(command + b"\n")
        self.proc.stdin.flush()
        return int(self.proc.stdout.readline())

    def close(self):
        self.proc.stdin.close()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def thread_nice_values(pid):
    """The nice value of each thread of a Linux process: Wine maps a Windows thread priority
    onto it when it honours one. Empty when it cannot be read."""
    values = []
    try:
        for tid in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{tid}/stat") as stat:
                values.append(int(stat.read().rsplit(")", 1)[1].split()[16]))
    except (OSError, IndexError, ValueError):
        pass
    return sorted(values)


def measure_latency(exe, presser, presses, warmup=3, nice_seen=None):
    """Latencies in ms of `presses` key presses through the program at `exe`, and the lost count."""
    program = WineProgram(exe)
    samples, lost = [], 0
    try:
        if program.next_line(b'{"event":"ready"}', 60) is None:
            raise RuntimeError(f"{exe} never said ready")
        time.sleep(0.3)
        if nice_seen is not None:
            # `wine` execs into the program's loader: the child's pid is the program's.
            nice_seen.append(thread_nice_values(program.proc.pid))
        focus_desktop()
        for index in range(warmup + presses):
            start = presser.send(b"d")
            seen = program.next_line(key_line(True), 3)
            presser.send(b"u")
            program.next_line(key_line(False), 3)
            if seen is None:
                lost += 1
                focus_desktop()  # the likely cause; the press is not counted
            elif index >= warmup:
                samples.append((seen - start) / 1e6)
            time.sleep(0.03)
        program.stop()
    finally:
        program.end()
    return samples, lost


def measure_lifecycle(exe, stops):
    """One run: (spawn to first line, stop/line to bye, stop/line to exit) in ms."""
    program = WineProgram(exe)
    try:
        first = program.next_line(b'{"event":"ready"}', 60)
        if first is None:
            raise RuntimeError(f"{exe} never wrote its line")
        if stops:
            sent, bye, exited = program.stop()
            if bye is None or exited is None:
                raise RuntimeError(f"{exe} did not say bye and exit after stop")
            return (first - program.spawned_ns) / 1e6, (bye - sent) / 1e6, (exited - sent) / 1e6
        program.exited.wait(20)
        if program.exit_ns is None:
            raise RuntimeError(f"{exe} did not exit")
        return ((first - program.spawned_ns) / 1e6, None, (program.exit_ns - first) / 1e6,
                (program.exit_ns - program.spawned_ns) / 1e6)
    finally:
        program.end()


def p95(values):
    ordered = sorted(values)
    return ordered[max(0, math.ceil(0.95 * len(ordered)) - 1)]


def stripped_size(exe, strip, folder):
    copy = os.path.join(folder, os.path.basename(exe))
    shutil.copyfile(exe, copy)
    subprocess.run([strip, copy], check=True, timeout=60)
    return os.path.getsize(copy)


def machine():
    model = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True, timeout=30).stdout.strip()
    return f"{model}, {os.cpu_count()} cores, {wine}, Xvfb"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sidecar", required=True)
    parser.add_argument("--floor", required=True, help="hook_floor.exe")
    parser.add_argument("--minimal", required=True, help="minimal_gui.exe")
    parser.add_argument("--presser", required=True, help="native xtest_press")
    parser.add_argument("--strip", default="x86_64-w64-mingw32-strip")
    parser.add_argument("--presses", type=int, default=50)
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--load", type=int, default=2, help="CPU-bound processes for the loaded run (0: none)")
    parser.add_argument("--load-presses", type=int, default=200)
    args = parser.parse_args()

    rows = []

    def latency_rows(presses, title, nice_seen=None, warm_up=False):
        # Alternate floor and sidecar in two halves so drift on a shared machine hits both.
        presser = Presser(args.presser)
        latency = {"sidecar": [], "floor": []}
        lost = {"sidecar": 0, "floor": 0}
        try:
            if warm_up:
                # Under load the first run of the floor after a sidecar's lost every press
                # (seen twice, not explained); one short run of each, not counted, first.
                for exe in (args.floor, args.sidecar):
                    measure_latency(exe, presser, 5)
            half = [presses // 2, presses - presses // 2]
            for count in half:
                for name, exe in (("floor", args.floor), ("sidecar", args.sidecar)):
                    samples, missed = measure_latency(exe, presser, count,
                                                      nice_seen=nice_seen if name == "sidecar" else None)
                    latency[name] += samples
                    lost[name] += missed
        finally:
            presser.close()
        for label, pick in (("median", statistics.median), ("p95", p95)):
            if latency["sidecar"] and latency["floor"]:
                ours, floor = pick(latency["sidecar"]), pick(latency["floor"])
                rows.append((f"key latency{title} {label} (ms)", f"{ours:.2f}", f"{floor:.2f}", "hook floor",
                             ours / floor))
        return latency, lost

    latency, lost = latency_rows(args.presses, "")
    loaded, loaded_lost, nice_seen = None, None, []
    if args.load > 0:
        # Busy loops, one process each, ended by PID when the run is over.
        burners = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(args.load)]
        try:
            time.sleep(1)
            loaded, loaded_lost = latency_rows(args.load_presses, f", {args.load} CPU-bound processes,", nice_seen,
                                               warm_up=True)
        finally:
            for burner in burners:
                burner.kill()
                burner.wait(10)

    # Start-up and stop, interleaved run by run; the first run of each warms Wine's caches.
    # The hook floor is a second baseline: under Wine, the first process on the virtual desktop
    # to touch user32 starts the desktop's explorer, which the minimal program never does.
    starts, byes, exits, minimal_starts, minimal_ends, minimal_totals = [], [], [], [], [], []
    floor_starts, floor_exits = [], []
    for run in range(args.runs + 1):
        start, bye, exited = measure_lifecycle(args.sidecar, stops=True)
        minimal_start, _, minimal_end, minimal_total = measure_lifecycle(args.minimal, stops=False)
        floor_start, _, floor_exit = measure_lifecycle(args.floor, stops=True)
        if run == 0:
            continue
        floor_starts.append(floor_start)
        floor_exits.append(floor_exit)
        starts.append(start)
        byes.append(bye)
        exits.append(exited)
        minimal_starts.append(minimal_start)
        minimal_ends.append(minimal_end)
        minimal_totals.append(minimal_total)
    median = statistics.median
    rows.append(("start to ready median (ms)", f"{median(starts):.0f}", f"{median(minimal_starts):.0f}",
                 "minimal: spawn to line", median(starts) / median(minimal_starts)))
    rows.append(("stop to bye median (ms)", f"{median(byes):.0f}", f"{median(minimal_ends):.0f}",
                 "minimal: line to exit", median(byes) / median(minimal_ends)))
    rows.append(("stop to exit median (ms)", f"{median(exits):.0f}", f"{median(minimal_ends):.0f}",
                 "minimal: line to exit", median(exits) / median(minimal_ends)))
    rows.append(("start to ready median (ms)", f"{median(starts):.0f}", f"{median(floor_starts):.0f}",
                 "hook floor: to ready", median(starts) / median(floor_starts)))
    rows.append(("stop to exit median (ms)", f"{median(exits):.0f}", f"{median(floor_exits):.0f}",
                 "hook floor: stop to exit", median(exits) / median(floor_exits)))
    rows.append(("spawn .. stop .. exit (ms)", f"{median(starts) + median(exits):.0f}",
                 f"{median(minimal_totals):.0f}", "minimal: spawn to exit",
                 (median(starts) + median(exits)) / median(minimal_totals)))

    with tempfile.TemporaryDirectory() as folder:
        ours, minimal = stripped_size(args.sidecar, args.strip, folder), stripped_size(args.minimal, args.strip, folder)
    rows.append(("size stripped (bytes)", str(ours), str(minimal), "minimal stripped", ours / minimal))
    rows.append(("size as built (bytes)", str(os.path.getsize(args.sidecar)), str(os.path.getsize(args.minimal)),
                 "minimal as built", os.path.getsize(args.sidecar) / os.path.getsize(args.minimal)))

    print(f"machine: {machine()}")
    print(f"key presses: {len(latency['sidecar'])} sidecar, {len(latency['floor'])} floor "
          f"(lost: {lost['sidecar']} sidecar, {lost['floor']} floor); lifecycle runs: {args.runs} each")
    if loaded is not None:
        print(f"under load ({args.load} CPU-bound processes): {len(loaded['sidecar'])} sidecar, "
              f"{len(loaded['floor'])} floor presses (lost: {loaded_lost['sidecar']} sidecar, "
              f"{loaded_lost['floor']} floor)")
        print(f"nice values of the sidecar's threads under Wine, per run: {nice_seen} "
              f"(below 0: Wine honoured a raised thread priority)")
    header = ("figure", "sidecar", "baseline", "baseline is", "ratio")
    widths = [max(len(str(row[i])) for row in rows + [header]) for i in range(4)]
    print(f"{header[0]:<{widths[0]}}  {header[1]:>{widths[1]}}  {header[2]:>{widths[2]}}  "
          f"{header[3]:<{widths[3]}}  {header[4]:>6}")
    for name, ours, base, what, ratio in rows:
        print(f"{name:<{widths[0]}}  {ours:>{widths[1]}}  {base:>{widths[2]}}  {what:<{widths[3]}}  {ratio:>6.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
