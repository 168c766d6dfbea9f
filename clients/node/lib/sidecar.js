'use strict';

const { spawn } = require('node:child_process');
const { EventEmitter } = require('node:events');
const { LineSplitter } = require('./lines');
const { SidecarError } = require('./errors');
const { resolveSidecarPath } = require('./paths');
const { refuseForeignProgram } = require('./platform');
const { bindElectronApp, checkBinding, bindingOptions } = require('./electron');
const starts = require('./starts');

const STATUS_FATAL = 101;
const STATUS_HOOK_FAILED = 102;
const STATUS_ALREADY_RUNNING = 103;
const STDERR_LINES_KEPT = 20;
const STDERR_LINE_MAX = 4096;
const STDOUT_LINE_MAX = 64 * 1024;
// After the exit, how long the pipes may stay open: a process the child started (under Wine,
// its server) can inherit and hold them, and its lines are all in by then.
const CLOSE_GRACE_MS = 2000;
// After a kill, how long to wait for the exit before reporting it anyway.
const KILL_GRACE_MS = 5000;
const STOP_LINE = '{"cmd":"stop"}\n';

// The child's streams are drained from the start, whoever listens: a sidecar whose output is
// not read cannot write its bye. Nothing here emits 'error'.
class Sidecar extends EventEmitter {
  constructor(child, settings) {
    super();
    this.pid = child.pid;
    this.state = 'starting';
    this.exited = new Promise((resolve) => { this._resolveExited = resolve; });
    this._child = child;
    this._stopTimeoutMs = settings.stopTimeoutMs;
    this._signal = settings.signal;
    this._onAbort = () => { this.stop(); };
    this._onReady = null;
    this._held = null;
    this._bye = false;
    this._killed = false;
    this._stopRequested = false;
    this._exit = null;
    this._result = null;
    this._killTimer = null;
    this._killDeadline = Infinity;
    this._graceTimer = null;
    this._stderrTail = [];
    this._wire(child);
    if (!this._signal) return;
    this._signal.addEventListener('abort', this._onAbort, { once: true });
    if (this._signal.aborted) this.stop(); // aborted while the child was being started
  }

  _wire(child) {
    this._out = new LineSplitter((line) => this._onStdoutLine(line), { maxLength: STDOUT_LINE_MAX });
    this._err = new LineSplitter((line) => this._onStderrLine(line), { maxLength: STDERR_LINE_MAX });
    child.on('error', (err) => this._warn('child-error', `sidecar process error: ${err.message}`));
    child.stdin.on('error', () => {}); // EPIPE: the child is gone; its exit tells why
    for (const [stream, lines] of [[child.stdout, this._out], [child.stderr, this._err]]) {
      stream.on('error', () => {});
      stream.on('data', (chunk) => lines.push(chunk));
      stream.on('end', () => lines.end());
    }
    child.on('exit', (code, signal) => this._onExit(code, signal));
    child.on('close', () => this._finish());
  }

  stop({ timeoutMs } = {}) {
    if (this._result) return Promise.resolve(this._result);
    if (!this._stopRequested) {
      this._stopRequested = true;
      this.state = 'stopping';
      this._sendStop();
    }
    this._armKill(timeoutMs ?? this._stopTimeoutMs);
    return this.exited;
  }

  // The stop command, then end of input: either alone stops the sidecar.
  _sendStop() {
    const stdin = this._child.stdin;
    if (stdin.destroyed || !stdin.writable) return;
    try {
      stdin.end(STOP_LINE);
    } catch {
      // the child is already gone
    }
  }

  // A later stop() with a shorter time-out brings the kill forward, never back.
  _armKill(timeoutMs) {
    const deadline = Date.now() + timeoutMs;
    if (deadline >= this._killDeadline) return;
    this._killDeadline = deadline;
    clearTimeout(this._killTimer);
    this._killTimer = setTimeout(() => this._kill(), timeoutMs);
  }

  // A killed sidecar puts nothing back (on Windows every kill is TerminateProcess); this
  // comes only after stop and its time-out.
  _kill() {
    if (this._result || this._exit) return;
    this._killed = true;
    try {
      this._child.kill('SIGKILL');
    } catch {
      // reported by the exit, or by the grace below
    }
    this._graceTimer = setTimeout(() => this._finish(), KILL_GRACE_MS);
  }

  _onExit(code, signal) {
    this._exit = { code, signal };
    clearTimeout(this._killTimer);
    clearTimeout(this._graceTimer);
    this._graceTimer = setTimeout(() => this._releasePipes(), CLOSE_GRACE_MS);
  }

  _releasePipes() {
    this._warn('pipes-held-open', 'the sidecar exited but its output pipes stayed open; closing them');
    this._child.stdout.destroy();
    this._child.stderr.destroy();
    this._finish();
  }

  _finish() {
    if (this._result) return;
    clearTimeout(this._killTimer);
    clearTimeout(this._graceTimer);
    this._out.end();
    this._err.end();
    if (this._signal) this._signal.removeEventListener('abort', this._onAbort);
    const { code, signal } = this._exit ?? { code: null, signal: null };
    this.state = 'exited';
    this._result = {
      outcome: outcomeOf(this._bye, code, this._killed),
      code,
      signal,
      bye: this._bye,
      stderr: this._stderrTail.slice(),
    };
    this._resolveExited(this._result);
    this._deliver('exit', this._result);
  }

  _onStdoutLine(line) {
    let message;
    try {
      message = JSON.parse(line);
    } catch {
      message = null;
    }
    if (message === null || typeof message !== 'object' || Array.isArray(message) ||
        typeof message.event !== 'string') {
      this._warn('malformed-line', 'malformed line from the sidecar', line);
      return;
    }
    switch (message.event) {
      case 'ready':
        this._becomeReady();
        break;
      case 'key':
        if (!Number.isInteger(message.vk) || typeof message.down !== 'boolean') {
          this._warn('malformed-line', 'malformed key event from the sidecar', line);
        } else {
          this._deliver('key', { vk: message.vk, down: message.down });
        }
        break;
      case 'session-lock':
        this._deliver('session-lock');
        break;
      case 'bye':
        this._bye = true;
        break;
      default:
        // Newer sidecars may add events; skipping them keeps this client working.
        this._warn('unknown-event', `unknown event ${JSON.stringify(message.event)} from the sidecar`, line);
    }
  }

  // Events from the ready line's turn on are held for one turn, so the code awaiting
  // startSidecar() can attach its listeners before they are emitted.
  _becomeReady() {
    if (this.state !== 'starting') return;
    this.state = 'ready';
    this._held = [];
    setImmediate(() => {
      const held = this._held;
      this._held = null;
      for (const [name, payload] of held) this.emit(name, payload);
    });
    if (this._onReady) this._onReady();
  }

  _onStderrLine(line) {
    this._stderrTail.push(line);
    if (this._stderrTail.length > STDERR_LINES_KEPT) this._stderrTail.shift();
    this._deliver('stderr', line);
  }

  _warn(type, message, line) {
    this._deliver('warning', line === undefined ? { type, message } : { type, message, line });
  }

  _deliver(name, payload) {
    if (this._held) this._held.push([name, payload]);
    else this.emit(name, payload);
  }
}

function outcomeOf(bye, code, killed) {
  if (bye && code === 0) return 'restored';
  if (killed && !bye) return 'killed';
  return 'exited';
}

function describeStatus({ code, signal }) {
  return signal ? `signal ${signal}` : `status ${code}`;
}

function settingsFrom(options) {
  // With its own command and args the caller runs what it likes: no executable is looked for.
  const needsPath = options.command === undefined || options.args === undefined;
  const path = needsPath ? resolveSidecarPath(options.path, { app: options.app }) : options.path;
  if (needsPath) refuseForeignProgram(path, options.command);
  const command = options.command ?? path;
  const args = options.args ?? (options.command ? [path] : []);
  const env = { ...(options.env ?? process.env) };
  if (options.diagnostic === true) env.VELMORA_DIAG = '1';
  if (options.diagnostic === false) delete env.VELMORA_DIAG;
  return {
    path,
    command,
    args,
    env,
    readyTimeoutMs: millis(options.readyTimeoutMs, 20000, 'readyTimeoutMs'),
    stopTimeoutMs: millis(options.stopTimeoutMs, 10000, 'stopTimeoutMs'),
    signal: options.signal,
    onSpawn: options.onSpawn,
  };
}

function millis(value, fallback, name) {
  if (value === undefined) return fallback;
  if (typeof value !== 'number' || !Number.isFinite(value) || value < 0) {
    throw new TypeError(`${name} must be a number of milliseconds`);
  }
  return value;
}

// Neither spawn's `timeout` nor its `signal`: both kill, and a killed sidecar restores nothing.
function spawnChild(settings) {
  return new Promise((resolve, reject) => {
    const failed = (err) => new SidecarError('SPAWN_FAILED',
      `could not start ${settings.command}: ${err.message}`,
      { path: settings.path ?? settings.command, cause: err });
    let child;
    try {
      child = spawn(settings.command, settings.args, {
        env: settings.env,
        stdio: ['pipe', 'pipe', 'pipe'],
        windowsHide: true,
      });
    } catch (err) {
      reject(failed(err));
      return;
    }
    child.once('spawn', () => resolve(child));
    child.once('error', (err) => reject(failed(err)));
  });
}

function earlyExitError(exit, reason, settings) {
  const details = { exit };
  const status = describeStatus(exit);
  if (reason === 'READY_TIMEOUT') {
    return new SidecarError(reason,
      `the sidecar did not say ready within ${settings.readyTimeoutMs} ms; stopped it (${exit.outcome})`, details);
  }
  if (reason === 'ABORTED') {
    // The abort's reason tells a caller's time-out from a user's cancel.
    const signal = settings.signal;
    if (signal && signal.aborted) {
      return new SidecarError(reason, 'aborted before the sidecar said ready', { ...details, cause: signal.reason });
    }
    return new SidecarError(reason, 'stopped before the sidecar said ready', details);
  }
  const lastLine = exit.stderr.length ? `: ${exit.stderr[exit.stderr.length - 1]}` : '';
  switch (exit.code) {
    case STATUS_FATAL:
      return new SidecarError('FATAL', `the sidecar failed (${status})${lastLine}`, details);
    case STATUS_HOOK_FAILED:
      return new SidecarError('HOOK_INSTALL_FAILED', `the sidecar could not install its input hooks${lastLine}`, details);
    case STATUS_ALREADY_RUNNING:
      return new SidecarError('ALREADY_RUNNING', 'another sidecar is already running', details);
    default:
      return new SidecarError('EXITED_BEFORE_READY', `the sidecar exited before it said ready (${status})`, details);
  }
}

function awaitReady(sidecar, settings) {
  return new Promise((resolve, reject) => {
    let timedOut = false;
    let ready = false;
    const timer = setTimeout(() => {
      timedOut = true;
      sidecar.stop(); // it may have changed settings already: stop, never just kill
    }, settings.readyTimeoutMs);
    sidecar._onReady = () => {
      ready = true;
      clearTimeout(timer);
      resolve(sidecar);
    };
    sidecar.exited.then((exit) => {
      clearTimeout(timer);
      if (ready) return;
      const reason = timedOut ? 'READY_TIMEOUT' : sidecar._stopRequested ? 'ABORTED' : null;
      reject(earlyExitError(exit, reason, settings));
    });
  });
}

function abortedBeforeStart(signal) {
  return new SidecarError('ABORTED', 'aborted before the sidecar was started', { cause: signal.reason });
}

// The restores this package is running. The executable's restore-only mode holds the instance
// lock while it works, so a start beside one would be refused with ALREADY_RUNNING.
const restoring = new Set();

// Resolves once none runs, or at once when the caller aborts.
function restoresDone(signal) {
  if (restoring.size === 0) return undefined;
  return new Promise((resolve) => {
    const done = () => {
      if (signal) signal.removeEventListener('abort', done);
      resolve();
    };
    if (signal) signal.addEventListener('abort', done, { once: true });
    (async () => {
      while (restoring.size > 0) await Promise.all(restoring);
    })().then(done);
  });
}

async function start(settings, spawned) {
  await restoresDone(settings.signal);
  if (settings.signal && settings.signal.aborted) throw abortedBeforeStart(settings.signal);
  const child = await spawnChild(settings);
  const sidecar = new Sidecar(child, settings);
  spawned(sidecar);
  const ready = awaitReady(sidecar, settings);
  try {
    if (settings.onSpawn) settings.onSpawn(sidecar);
  } catch (err) {
    ready.catch(() => {});
    await sidecar.stop();
    throw err;
  }
  return ready;
}

// Not async: the promise itself is registered, so that a binding made from it can stop the
// sidecar before ready.
function startSidecar(options = {}) {
  let spawned;
  const sidecarKnown = new Promise((resolve) => { spawned = resolve; });
  let promise;
  let bind = false;
  try {
    if (options.app !== undefined) checkBinding(options.app, bindingOptions(options));
    bind = options.app !== undefined;
    promise = start(settingsFrom(options), spawned);
  } catch (err) {
    promise = Promise.reject(err);
  }
  promise.catch(() => spawned(null));
  starts.register(promise, sidecarKnown);
  if (bind) bindElectronApp(options.app, promise, bindingOptions(options));
  return promise;
}

// Puts back what a run that never finished left changed, with the executable's restore-only
// mode: no hook, no window, it only waits for the instance lock, restores, says bye and exits.
// An executable that says ready instead does not know that mode and has taken the lock: it is
// stopped at once, and the call fails rather than report a restore that never happened.
// Starts issued while it runs wait for it.
function restoreLeftovers(options = {}) {
  const run = restore(options);
  const settled = run.then(() => {}, () => {});
  restoring.add(settled);
  settled.then(() => restoring.delete(settled));
  return run;
}

async function restore(options) {
  const settings = settingsFrom({ ...options, diagnostic: undefined });
  settings.env.VELMORA_RESTORE_ONLY = '1';
  delete settings.env.VELMORA_DIAG;
  const timeoutMs = millis(options.timeoutMs, 30000, 'timeoutMs');
  if (settings.signal && settings.signal.aborted) throw abortedBeforeStart(settings.signal);
  const child = await spawnChild(settings);
  const sidecar = new Sidecar(child, settings);
  let unsupported = false;
  let timedOut = false;
  sidecar._onReady = () => {
    unsupported = true;
    sidecar.stop();
  };
  const timer = setTimeout(() => {
    timedOut = true;
    sidecar.stop();
  }, timeoutMs);
  const exit = await sidecar.exited;
  clearTimeout(timer);
  const details = { exit };
  if (unsupported) {
    throw new SidecarError('RESTORE_UNSUPPORTED',
      `the sidecar has no restore-only mode: it started a lock instead (stopped it: ${exit.outcome})`, details);
  }
  if (exit.outcome === 'restored') return exit;
  if (exit.code === STATUS_ALREADY_RUNNING) {
    throw new SidecarError('ALREADY_RUNNING', 'another sidecar is already running', details);
  }
  if (timedOut) {
    throw new SidecarError('RESTORE_TIMEOUT', `the restore did not end within ${timeoutMs} ms (${exit.outcome})`, details);
  }
  if (settings.signal && settings.signal.aborted) {
    throw new SidecarError('ABORTED', 'aborted before the restore ended', { ...details, cause: settings.signal.reason });
  }
  const lastLine = exit.stderr.length ? `: ${exit.stderr[exit.stderr.length - 1]}` : '';
  throw new SidecarError('RESTORE_FAILED', `the restore ended with ${describeStatus(exit)}${lastLine}`, details);
}

module.exports = { startSidecar, restoreLeftovers, Sidecar, SidecarError };
