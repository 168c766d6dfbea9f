#!/usr/bin/env node
// Misbehaving stand-ins for the sidecar, so the reference parent's failure paths can be run
// without Wine. Usage: fake-sidecar.js MODE [PIDFILE]
//   silent   never says anything and never exits (the parent must kill it)
//   slow     never says ready, but exits with status 0 at end of input
//   die      exits with status 3 before ready
//   busy     exits with status 103 before ready, as when another sidecar is running
//   vanish   says ready, then exits with status 0 without bye
//   chatty   says ready, writes malformed lines and a key, says bye on stop, exits 0
//   deaf     says ready and ignores stop (the parent must kill it)
// PIDFILE, when given, receives this process's id so a test can check it is gone.
'use strict';

const fs = require('node:fs');

const [mode, pid_file] = process.argv.slice(2);
if (pid_file) fs.writeFileSync(pid_file, String(process.pid));

const say = (line) => process.stdout.write(line + '\n');
const hang = () => setInterval(() => {}, 1000);
// Ignore SIGTERM as a stuck Windows process would; only SIGKILL ends it.
process.on('SIGTERM', () => {});

switch (mode) {
  case 'silent':
    hang();
    break;
  case 'slow':
    process.stdin.resume();
    process.stdin.on('end', () => process.exit(0));
    break;
  case 'die':
    process.exitCode = 3;
    break;
  case 'busy':
    console.error('velmora-sidecar: another sidecar is already running');
    process.exitCode = 103;
    break;
  case 'vanish':
    say('{"event":"ready"}');
    break;
  case 'chatty':
    say('{"event":"ready"}');
    say('not json at all');
    say('[1,2]');
    say('{"down":true,"event":"key","vk":65}');
    process.stdin.on('data', (chunk) => {
      if (chunk.toString().includes('"stop"')) {
        say('{"event":"bye"}');
        process.exit(0);
      }
    });
    break;
  case 'deaf':
    say('{"event":"ready"}');
    process.stdin.resume();
    hang();
    break;
  default:
    console.error(`unknown mode ${mode}`);
    process.exitCode = 2;
}
