"""The end-to-end test harness: the real sidecar under Wine on a private Xvfb display, its
pipes, the probe, X input, and the constants and helpers the test modules share.

One bench per test module (setUpModule/tearDownModule). It starts its own Xvfb, uses a
Wine prefix under the build tree that is made once and reused, and on teardown ends only
what it started: its sidecar and probe processes by PID, the Wine server of its own
prefix, its own Xvfb.
"""

import atexit
import ctypes
import fcntl
import json
import os
import queue
import select
import subprocess
import tempfile
import threading
import time

SIDECAR = os.environ.get("VELMORA_SIDECAR_EXE", "")
PROBE = os.environ.get("VELMORA_PROBE_EXE", "")
WORK = os.environ.get("VELMORA_E2E_WORK", "")
PREFIX = os.environ.get("VELMORA_WINEPREFIX", "")
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WIDTH, HEIGHT = 1280, 1024
STOP = b'{"cmd":"stop"}\n'
BYE = '{"event":"bye"}'
SESSION_LOCK = '{"event":"session-lock"}'
CENTRE_PIXEL = [str(v) for v in (WIDTH // 2, HEIGHT // 2, WIDTH // 2 + 1, HEIGHT // 2 + 1)]
NO_CLIP = ["0", "0", str(WIDTH), str(HEIGHT)]
MARKER = ("key-up", 66)  # `b`: once the window has it, every earlier key has been delivered


class Stream:
    """Lines of a pipe, read on a thread so that every wait has a time limit."""

    def __init__(self, pipe):
        self._fd = pipe.fileno()
        self._lines = queue.Queue()
        self._reading = threading.Event()
        self._reading.set()
        self.chunk, self.delay = 65536, 0  # a slow reader: small reads with a pause after each
        threading.Thread(target=self._run, daemon=True).start()

    def _run(self):
        pending = b""
        while True:
            self._reading.wait()
            try:
                chunk = os.read(self._fd, self.chunk)
            except OSError:
                chunk = b""
            if not chunk:
                break
            time.sleep(self.delay)
            *lines, pending = (pending + chunk).split(b"\n")
            for line in lines:
                self._lines.put(line.decode("utf-8", "replace").rstrip("\r"))
        if pending:
            self._lines.put(pending.decode("utf-8", "replace"))
        self._lines.put(None)

    def line(self, timeout=15):
        """The next line, or None at the end of the stream."""
        try:
            return self._lines.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError(f"no line within {timeout} s") from None

    def rest(self, timeout=20):
        """Every line up to the end of the stream."""
        deadline, lines = time.monotonic() + timeout, []
        while (line := self.line(max(0.1, deadline - time.monotonic()))) is not None:
            lines.append(line)
        return lines

    def silent_for(self, seconds):
        """Fails on any line that arrives within the given time."""
        try:
            line = self._lines.get(timeout=seconds)
        except queue.Empty:
            return
        raise AssertionError(f"unexpected line {line!r}")

    def pause(self):
        """Stops reading, so that the pipe fills (at most one read in flight finishes)."""
        self._reading.clear()

    def resume(self):
        self._reading.set()


class Bench:
    def __init__(self):
        self.env = None
        self._xvfb = None
        self._children = []
        self._server = None
        self._lock = None

    def start(self):
        assert SIDECAR and PROBE and WORK and PREFIX, "run through ctest: VELMORA_* paths are unset"
        os.makedirs(WORK, exist_ok=True)
        # Runs from several build shells share the prefix: one bench at a time.
        self._lock = open(os.path.join(WORK, "bench.lock"), "w")
        deadline = time.monotonic() + 180
        while True:
            try:
                fcntl.flock(self._lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise RuntimeError("another end-to-end bench holds the prefix")
                time.sleep(0.5)
        atexit.register(self.stop)
        display = self._start_xvfb()
        self.env = {k: v for k, v in os.environ.items() if k != "VELMORA_DIAG"}
        self.env.update(DISPLAY=display, WINEPREFIX=PREFIX, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree=;mshtml=")
        # The one prefix set-up of the project, shared with the scripts.
        self._run([os.path.join(ROOT, "scripts", "wine-prefix.sh"), PREFIX], timeout=180)
        # With the lock held, a server still running on this prefix is a leftover of an
        # interrupted bench, bound to a display that is gone.
        self._run(["wineserver", "-k"], timeout=30)
        # Keeps the server, and so the virtual desktop, warm between the tests of a module.
        self._server = subprocess.Popen(["wineserver", "-p"], env=self.env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The first program starts Wine's services, which inherit its handles: let that be
        # the probe with its output in a file, so no test's pipe is held open by them.
        self.probe("session-window")

    def _start_xvfb(self):
        # Xvfb picks a free display itself and tells which; an existing one is never touched.
        read_end, write_end = os.pipe()
        self._xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{WIDTH}x{HEIGHT}x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            if select.select([read_end], [], [], 0.5)[0]:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip():
            raise RuntimeError("Xvfb did not start")
        return ":" + number.decode().strip()

    def _run(self, args, timeout):
        # No pipes: Wine services started along the way would inherit and hold them.
        return subprocess.run(args, env=self.env, timeout=timeout, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        for child in self._children:
            if child.poll() is None:
                child.kill()
            child.wait(10)
            for pipe in (child.stdin, child.stdout):
                if pipe is not None and not pipe.closed:
                    try:
                        pipe.close()
                    except OSError:
                        pass  # a broken pipe on flush: the child is gone anyway
        self._children.clear()
        if self.env is not None:
            self._run(["wineserver", "-k"], timeout=30)
            self.env = None
        if self._server is not None:
            self._server.wait(10)
            self._server = None
        if self._xvfb is not None:
            self._xvfb.terminate()
            self._xvfb.wait(10)
            self._xvfb = None
        if self._lock is not None:
            self._lock.close()
            self._lock = None

    def spawn(self, args, env=None, **pipes):
        child = subprocess.Popen(args, env=env or self.env, **pipes)
        self._children.append(child)
        return child

    def probe(self, *args):
        """Runs a probe subcommand; its output, split on white space."""
        # Output through a file, not a pipe: Wine services the probe may start inherit its
        # handles and would keep a pipe open long after the probe is gone.
        with tempfile.TemporaryFile() as output:
            done = subprocess.run(["wine", PROBE, *map(str, args)], env=self.env, timeout=30,
                                  stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.DEVNULL)
            output.seek(0)
            text = output.read().decode()
        assert done.returncode == 0, f"probe {args}: status {done.returncode}, {text!r}"
        return text.split()

    def end_session(self):
        """Wine's end of the session: WM_QUERYENDSESSION and WM_ENDSESSION to every top-level
        window, then each such process that is still running is ended."""
        done = self._run(["wineboot", "--end-session"], timeout=60)
        assert done.returncode == 0, f"wineboot --end-session: status {done.returncode}"

    def xdo(self, *args, timeout=30):
        """Real X input through XTest."""
        subprocess.run(["xdotool", *map(str, args)], env=self.env, timeout=timeout, check=True,
                       stdin=subprocess.DEVNULL, capture_output=True)

    def focus_desktop(self):
        """Gives the X focus to Wine's virtual desktop; keys go to the focused X window."""
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            found = subprocess.run(["xdotool", "search", "--name", "Wine desktop"], env=self.env,
                                   timeout=10, capture_output=True)
            windows = found.stdout.split()
            if windows:
                self.xdo("windowfocus", windows[0].decode())
                return
            time.sleep(0.2)
        raise AssertionError("no Wine desktop window")


BENCH = Bench()


class Sidecar:
    def __init__(self, diag=None, keep_stdout=True, stderr=subprocess.DEVNULL):
        env = dict(BENCH.env)
        if diag is not None:
            env["VELMORA_DIAG"] = diag
        if keep_stdout:
            self.proc = BENCH.spawn(["wine", SIDECAR], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                    stderr=stderr)
            self.out = Stream(self.proc.stdout)
        else:
            # A parent that has closed its end: every write of the sidecar fails.
            read_end, write_end = os.pipe()
            self.proc = BENCH.spawn(["wine", SIDECAR], env=env, stdin=subprocess.PIPE, stdout=write_end,
                                    stderr=subprocess.DEVNULL)
            os.close(write_end)
            os.close(read_end)
            self.out = None

    def expect_ready(self):
        line = self.out.line()
        assert line == '{"event":"ready"}', line
        return self

    def send(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def close_stdin(self):
        self.proc.stdin.close()

    def finish(self, timeout=20):
        """The remaining output lines and the exit status."""
        lines = self.out.rest(timeout) if self.out else []
        return lines, self.proc.wait(timeout)

    def stop(self):
        self.send(STOP)
        return self.finish()


def after_bye(lines):
    """The lines after `bye`: none, since nothing may be written after it. None when there is
    no `bye`."""
    if BYE not in lines:
        return None
    return lines[lines.index(BYE) + 1:]


def key_lines(lines):
    """(vk, down) of every key event line; other lines are left out."""
    events = [json.loads(line) for line in lines]
    return [(e["vk"], e["down"]) for e in events if e.get("event") == "key"]


class ProbeWindow:
    """The probe's full-screen window in the foreground, logging the input it receives."""

    def __init__(self):
        self.proc = BENCH.spawn(["wine", PROBE, "window", "120"], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.out = Stream(self.proc.stdout)
        self.ready = self.out.line(30)
        assert self.ready is not None and self.ready.startswith("ready"), self.ready
        self.events = []

    def until(self, kind, value, timeout=10):
        """Every (ms, kind, value) received up to and including the first matching one."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                line = self.out.line(max(0.1, deadline - time.monotonic()))
            except AssertionError:
                raise AssertionError(f"no {kind} {value} at the probe ({self.ready}): {self.events}") from None
            if line is None or line == "end":
                raise AssertionError(f"probe ended before {kind} {value}: {self.events}")
            ms, got_kind, got_value = line.split()
            self.events.append((int(ms), got_kind, int(got_value)))
            if (got_kind, int(got_value)) == (kind, value):
                events, self.events = self.events, []
                return events

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(20)


def inputs(events):
    """The events that are input, leaving out focus notices."""
    return [(kind, value) for _, kind, value in events if kind != "focus-lost"]


def downs(events):
    """The virtual-key codes of the key presses among a probe window's events."""
    return [value for kind, value in inputs(events) if kind == "key-down"]


def settings():
    """The beep and the cursor clip, as a second process sees them."""
    return BENCH.probe("beep") + BENCH.probe("clip")


class _CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


def pointer_opaque_pixels():
    """Pixels with non-zero alpha in the pointer image the X server shows: what the user sees."""
    x11, xfixes = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXfixes.so.3")
    x11.XOpenDisplay.restype, x11.XOpenDisplay.argtypes = ctypes.c_void_p, [ctypes.c_char_p]
    x11.XCloseDisplay.argtypes = x11.XFree.argtypes = [ctypes.c_void_p]
    xfixes.XFixesQueryVersion.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int)]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(_CursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(BENCH.env["DISPLAY"].encode())
    assert display, "cannot open the X display"
    try:
        major, minor = ctypes.c_int(6), ctypes.c_int(0)
        xfixes.XFixesQueryVersion(display, ctypes.byref(major), ctypes.byref(minor))
        image = xfixes.XFixesGetCursorImage(display)
        assert image, "no cursor image"
        try:
            size = image.contents.width * image.contents.height
            return sum(1 for i in range(size) if (image.contents.pixels[i] >> 24) & 0xFF)
        finally:
            x11.XFree(image)
    finally:
        x11.XCloseDisplay(display)


def eventually(read, expected, timeout=5):
    """The value of read() once it equals expected, or its last value when time runs out."""
    deadline = time.monotonic() + timeout
    while (value := read()) != expected and time.monotonic() < deadline:
        time.sleep(0.1)
    return value
