#!/usr/bin/env node
// A reference parent for the Velmora sidecar: starts it, waits for "ready", shows every key
// press it reports, and stops it after a timer or on Ctrl+C / SIGTERM. Uses only Node's
// standard library.
//
//   node reference-parent.js [options] [-- command args...]
//
//   --sidecar PATH         the executable (default: $VELMORA_SIDECAR or velmora-sidecar.exe)
//   --wine                 run it as `wine PATH` (Linux hosts)
//   --diag                 set VELMORA_DIAG=1: input passes, nothing is changed, keys still reported
//   --seconds N            send stop N seconds after ready (default: run until a signal)
//   --ready-timeout N      give up if ready has not come after N seconds (default 20)
//   --stop-timeout N       kill the sidecar if it has not exited N seconds after stop (default 10)
//   -- command args...     run this command instead (tests use a fake sidecar this way);
//                          $VELMORA_SIDECAR_CMD (split on spaces) does the same
//
// Exit status: 0 only when ready ... bye and a sidecar exit status of 0 were all seen.
// 1 the sidecar failed (could not start, died, no bye, non-zero status), 2 bad usage,
// 3 no ready in time, 4 no exit in time after stop.
//
// The order that keeps the user's settings: send stop (and close standard input), wait for
// bye and the exit, and kill only after a time-out. A killed sidecar puts nothing back: the
// power-button, sleep-button and lid actions stay at "do nothing" across reboots, and the
// system sounds stay muted. On Windows child.kill() is such a kill (TerminateProcess),
// whatever the signal, so it comes last here, also when ready never came.
'use strict';

const { spawn } = require('node:child_process');
const readline = require('node:readline');

const EXIT_FAILED = 1;
const EXIT_USAGE = 2;
const EXIT_NO_READY = 3;
const EXIT_NO_EXIT = 4;

function usage(message) {
  console.error(`error: ${message}`);
  console.error('usage: reference-parent.js [--sidecar PATH] [--wine] [--diag] [--seconds N] ' +
                '[--ready-timeout N] [--stop-timeout N] [-- command args...]');
  process.exit(EXIT_USAGE);
}

function parse_seconds(name, text) {
  const value = Number(text);
  if (text === undefined || !Number.isFinite(value) || value < 0) usage(`${name} needs a number of seconds`);
  return value;
}

function parse_options(argv) {
  const options = {
    sidecar: process.env.VELMORA_SIDECAR || 'velmora-sidecar.exe',
    wine: false,
    diag: false,
    seconds: null,
    ready_timeout: 20,
    stop_timeout: 10,
    command: null,
  };
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    switch (arg) {
      case '--sidecar': options.sidecar = argv[++i]; if (!options.sidecar) usage('--sidecar needs a path'); break;
      case '--wine': options.wine = true; break;
      case '--diag': options.diag = true; break;
      case '--seconds': options.seconds = parse_seconds(arg, argv[++i]); break;
      case '--ready-timeout': options.ready_timeout = parse_seconds(arg, argv[++i]); break;
      case '--stop-timeout': options.stop_timeout = parse_seconds(arg, argv[++i]); break;
      case '--':
        options.command = argv.slice(i + 1);
        if (options.command.length === 0) usage('-- needs a command');
        i = argv.length;
        break;
      default: usage(`unknown option ${arg}`);
    }
  }
  if (!options.command && process.env.VELMORA_SIDECAR_CMD) {
    options.command = process.env.VELMORA_SIDECAR_CMD.trim().split(/\s+/);
  }
  if (!options.command) {
    options.command = options.wine ? ['wine', options.sidecar] : [options.sidecar];
  }
  return options;
}

// A few names so the output reads well; every other key shows its code only.
function key_name(vk) {
  if ((vk >= 0x30 && vk <= 0x39) || (vk >= 0x41 && vk <= 0x5a)) return String.fromCharCode(vk);
  const names = { 0x08: 'Backspace', 0x09: 'Tab', 0x0d: 'Enter', 0x10: 'Shift', 0x11: 'Ctrl', 0x12: 'Alt',
                  0x1b: 'Esc', 0x20: 'Space', 0x25: 'Left', 0x26: 'Up', 0x27: 'Right', 0x28: 'Down',
                  0x5b: 'Win', 0xa0: 'LShift', 0xa1: 'RShift', 0xa2: 'LCtrl', 0xa3: 'RCtrl',
                  0xa4: 'LAlt', 0xa5: 'RAlt' };
  return names[vk] || null;
}

function main() {
  const options = parse_options(process.argv.slice(2));
  const started_at = Date.now();
  const log = (text) => console.log(`sidecar: ${text}`);
  const fail = (text) => console.error(`error: ${text}`);

  const state = {
    ready: false,
    bye: false,
    stop_sent: false,
    ready_timed_out: false,
    exited: false,
    exit_code: null,
    exit_signal: null,
    result: null, // set once the outcome is known; the first verdict wins
  };
  const timers = new Set();
  const after = (seconds, fn) => {
    const timer = setTimeout(() => { timers.delete(timer); fn(); }, seconds * 1000);
    timers.add(timer);
    return timer;
  };

  const env = { ...process.env };
  if (options.diag) env.VELMORA_DIAG = '1';

  // stderr is passed through: the sidecar writes there only on a fatal error.
  const child = spawn(options.command[0], options.command.slice(1), {
    env,
    stdio: ['pipe', 'pipe', 'inherit'],
    windowsHide: true,
  });
  log(`started ${options.command.join(' ')}${child.pid ? ` (pid ${child.pid})` : ''}`);

  // Writing to a child that has died raises EPIPE here; the exit handler reports the real cause.
  child.stdin.on('error', () => {});

  // Records the outcome, then ends once the child is gone (so nothing is left running).
  function finish(code, message) {
    if (state.result !== null) return;
    state.result = code;
    if (message) fail(message);
    if (state.exited) {
      done();
    } else {
      // We kill only the child we started; a killed child still reports 'exit'.
      child.kill('SIGKILL');
      after(5, () => { fail(`sidecar (pid ${child.pid}) did not go away after kill`); done(); });
    }
  }
  function done() {
    for (const timer of timers) clearTimeout(timer);
    process.exit(state.result);
  }

  // `stuck` is the verdict should the sidecar still be running after the stop time-out.
  function send_stop(reason, stuck = EXIT_NO_EXIT) {
    if (state.stop_sent || state.exited) return;
    state.stop_sent = true;
    log(`stopping (${reason})`);
    // The stop command, then end of input: either one alone would stop it.
    child.stdin.end('{"cmd":"stop"}\n');
    after(options.stop_timeout, () => {
      finish(stuck, `sidecar did not exit within ${options.stop_timeout} s after stop; killing it`);
    });
  }

  // A sidecar slow to say ready may have changed settings already: it is asked to stop and
  // put them back like any other, and killed only if it does not exit.
  const ready_timer = after(options.ready_timeout, () => {
    if (state.ready) return;
    state.ready_timed_out = true;
    fail(`sidecar did not say ready within ${options.ready_timeout} s; stopping it`);
    send_stop('no ready', EXIT_NO_READY);
  });

  function on_event(event) {
    switch (event.event) {
      case 'ready':
        state.ready = true;
        clearTimeout(ready_timer);
        timers.delete(ready_timer);
        log(`ready after ${Date.now() - started_at} ms; input is locked`);
        if (options.seconds !== null) after(options.seconds, () => send_stop(`${options.seconds} s timer`));
        break;
      case 'key': {
        if (!Number.isInteger(event.vk) || typeof event.down !== 'boolean') return false;
        const name = key_name(event.vk);
        console.log(`key ${event.vk} ${event.down ? 'down' : 'up'}${name ? ` (${name})` : ''}`);
        break;
      }
      case 'session-lock':
        log('the user session was locked');
        break;
      case 'bye':
        state.bye = true;
        log('bye: settings restored');
        break;
      default:
        // Newer sidecars may add events; skipping unknown ones keeps old parents working.
        log(`ignoring unknown event ${JSON.stringify(event.event)}`);
    }
    return true;
  }

  // The sidecar writes LF-terminated lines; a stray CR is tolerated all the same.
  const lines = readline.createInterface({ input: child.stdout, crlfDelay: Infinity });
  lines.on('line', (line) => {
    let event = null;
    try {
      event = JSON.parse(line);
    } catch {
      // fall through: reported below
    }
    const ok = event !== null && typeof event === 'object' && !Array.isArray(event) &&
               typeof event.event === 'string' && on_event(event);
    if (!ok) fail(`ignoring malformed line from sidecar: ${JSON.stringify(line.slice(0, 200))}`);
  });

  child.on('error', (err) => {
    // Spawn failures (ENOENT, EACCES) arrive here and no 'exit' follows.
    state.exited = true;
    finish(EXIT_FAILED, `could not start ${options.command[0]}: ${err.message}`);
  });

  child.on('exit', (code, signal) => {
    state.exited = true;
    state.exit_code = code;
    state.exit_signal = signal;
    if (state.result !== null) { done(); return; }
    // Let the last buffered lines (bye) be read before judging; a grandchild that inherited
    // the pipe (a Wine server, say) may keep it open, so do not wait for its end forever.
    let judged = false;
    const judge = () => { if (!judged) { judged = true; judge_exit(); } };
    if (child.stdout.closed) judge();
    else child.stdout.once('close', judge);
    after(1, judge);
  });

  function judge_exit() {
    const status = state.exit_signal ? `signal ${state.exit_signal}` : `status ${state.exit_code}`;
    if (state.ready_timed_out) return finish(EXIT_NO_READY, `sidecar exited without saying ready (${status})`);
    if (!state.ready) return finish(EXIT_FAILED, `sidecar exited before it said ready (${status})`);
    if (!state.bye) {
      const when = state.stop_sent ? 'after stop' : 'while the lock was on';
      return finish(EXIT_FAILED, `sidecar died ${when} without saying bye (${status}); ` +
                    'settings it changed may not be restored');
    }
    if (state.exit_code !== 0) return finish(EXIT_FAILED, `sidecar said bye but exited with ${status}`);
    log('exited with status 0');
    finish(0, null);
  }

  // First signal: a clean stop. A second one: the user means it, kill the child, knowing
  // that a killed sidecar leaves its settings changed.
  let signals = 0;
  const on_signal = (name) => {
    signals += 1;
    if (signals === 1) send_stop(name);
    else finish(EXIT_FAILED, `${name} again; killing the sidecar`);
  };
  process.on('SIGINT', () => on_signal('SIGINT'));
  process.on('SIGTERM', () => on_signal('SIGTERM'));
}

main();
