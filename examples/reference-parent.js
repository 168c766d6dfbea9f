#!/usr/bin/env node
// A reference parent for the Velmora sidecar: starts it, waits for "ready", shows every key
// press it reports, and stops it after a timer or on Ctrl+C / SIGTERM. A thin user of the
// velmora-sidecar package in clients/node, which does the starting, framing and stopping.
//
//   node reference-parent.js [options] [-- command args...]
//
//   --sidecar PATH         the executable (default: $VELMORA_SIDECAR or the one bundled in the package)
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
// 3 no ready in time, 4 no exit in time after stop, 5 another sidecar is already running.
//
// The order that keeps the user's settings: send stop (and close standard input), wait for
// bye and the exit, and kill only after a time-out. A killed sidecar puts nothing back: the
// power-button, sleep-button and lid actions stay at "do nothing" across reboots, and the
// system sounds stay muted. On Windows child.kill() is such a kill (TerminateProcess),
// whatever the signal, so it comes last here, also when ready never came.
'use strict';

const path = require('node:path');
const { startSidecar, resolveSidecarPath } = require(path.join(__dirname, '..', 'clients', 'node'));

const EXIT_FAILED = 1;
const EXIT_USAGE = 2;
const EXIT_NO_READY = 3;
const EXIT_NO_EXIT = 4;
const EXIT_ALREADY_RUNNING = 5;

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
    sidecar: process.env.VELMORA_SIDECAR || null,  // null: the package's own, looked for only if needed
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

// Where the package is told what to run: the executable itself, through Wine, or a command.
// `shown` is the command line, for the log.
function spawn_options(options) {
  if (options.command) {
    return { command: options.command[0], args: options.command.slice(1), shown: options.command };
  }
  const sidecar = options.sidecar || resolveSidecarPath();
  if (options.wine) return { path: sidecar, command: 'wine', shown: ['wine', sidecar] };
  return { path: sidecar, shown: [sidecar] };
}

function describe_status({ code, signal }) {
  return signal ? `signal ${signal}` : `status ${code}`;
}

const log = (text) => console.log(`sidecar: ${text}`);
const fail = (text) => console.error(`error: ${text}`);

function watch(sidecar, command) {
  log(`started ${command}${sidecar.pid ? ` (pid ${sidecar.pid})` : ''}`);
  // The sidecar writes to standard error only on a fatal error: shown as it comes.
  sidecar.on('stderr', (line) => console.error(line));
  sidecar.on('warning', (warning) => {
    if (warning.type === 'malformed-line') {
      fail(`ignoring malformed line from sidecar: ${JSON.stringify(warning.line.slice(0, 200))}`);
    } else if (warning.type === 'unknown-event') {
      log(`ignoring ${warning.message}`);
    } else if (warning.type === 'child-error') {
      fail(warning.message);
    }
    // pipes-held-open: expected under Wine, whose own processes may inherit the pipes
  });
  sidecar.on('key', ({ vk, down }) => {
    const name = key_name(vk);
    console.log(`key ${vk} ${down ? 'down' : 'up'}${name ? ` (${name})` : ''}`);
  });
  sidecar.on('session-lock', () => log('the user session was locked'));
}

// A sidecar slow to say ready may have changed settings already: the package asked it to stop
// and put them back like any other, and killed it only if it did not exit.
function start_failure(err, options) {
  const exit = err.exit;
  const stuck = exit && exit.outcome === 'killed';
  const stuck_message = `sidecar did not exit within ${options.stop_timeout} s after stop; killing it`;
  switch (err.code) {
    case 'READY_TIMEOUT':
      fail(`sidecar did not say ready within ${options.ready_timeout} s; stopping it`);
      log('stopping (no ready)');
      fail(stuck ? stuck_message : `sidecar exited without saying ready (${describe_status(exit)})`);
      return EXIT_NO_READY;
    case 'ABORTED':
      fail(stuck ? stuck_message : `sidecar exited before it said ready (${describe_status(exit)})`);
      return stuck ? EXIT_NO_EXIT : EXIT_FAILED;
    case 'ALREADY_RUNNING':
      fail('another sidecar is already running; the lock is already on (end it from its parent app first)');
      return EXIT_ALREADY_RUNNING;
    case 'HOOK_INSTALL_FAILED':
      fail(`sidecar could not install its input hooks (${describe_status(exit)}); the lock did not start`);
      return EXIT_FAILED;
    case 'FATAL':
    case 'EXITED_BEFORE_READY':
      fail(`sidecar exited before it said ready (${describe_status(exit)})`);
      return EXIT_FAILED;
    default: // SPAWN_FAILED
      fail(err.message);
      return EXIT_FAILED;
  }
}

function judge_exit(result, state, options) {
  if (state.forced) return EXIT_FAILED;
  const status = describe_status(result);
  if (result.outcome === 'killed') {
    fail(`sidecar did not exit within ${options.stop_timeout} s after stop; killing it`);
    return EXIT_NO_EXIT;
  }
  if (!result.bye) {
    const when = state.stopping ? 'after stop' : 'while the lock was on';
    fail(`sidecar died ${when} without saying bye (${status}); settings it changed may not be restored`);
    return EXIT_FAILED;
  }
  log('bye: settings restored');
  if (result.code !== 0) {
    fail(`sidecar said bye but exited with ${status}`);
    return EXIT_FAILED;
  }
  log('exited with status 0');
  return 0;
}

async function main() {
  const options = parse_options(process.argv.slice(2));
  let shown;
  let spawn;
  try {
    ({ shown, ...spawn } = spawn_options(options));
  } catch (err) {
    process.exit(start_failure(err, options));  // no executable where the package looks
  }
  const started_at = Date.now();
  const controller = new AbortController();
  const state = { sidecar: null, stopping: false, forced: false };

  const stop = (reason) => {
    if (state.stopping) return;
    state.stopping = true;
    log(`stopping (${reason})`);
    controller.abort();
  };
  // First signal: a clean stop. A second one: the user means it, kill the child, knowing
  // that a killed sidecar leaves its settings changed.
  let signals = 0;
  const on_signal = (name) => {
    signals += 1;
    if (signals === 1) return stop(name);
    state.forced = true;
    fail(`${name} again; killing the sidecar`);
    if (state.sidecar) state.sidecar.stop({ timeoutMs: 0 });
  };
  process.on('SIGINT', () => on_signal('SIGINT'));
  process.on('SIGTERM', () => on_signal('SIGTERM'));

  let sidecar;
  try {
    sidecar = await startSidecar({
      ...spawn,
      readyTimeoutMs: options.ready_timeout * 1000,
      stopTimeoutMs: options.stop_timeout * 1000,
      diagnostic: options.diag ? true : undefined,
      signal: controller.signal,
      onSpawn: (running) => { state.sidecar = running; watch(running, shown.join(' ')); },
    });
  } catch (err) {
    process.exit(state.forced ? EXIT_FAILED : start_failure(err, options));
  }

  log(`ready after ${Date.now() - started_at} ms; input is locked`);
  const timer = options.seconds === null ? null
    : setTimeout(() => stop(`${options.seconds} s timer`), options.seconds * 1000);
  const result = await sidecar.exited;
  clearTimeout(timer);
  process.exit(judge_exit(result, state, options));
}

main();
