#!/usr/bin/env node
// Stand-ins for the sidecar, for the client's tests. Usage: fake-sidecar.js MODE [ARG]
//   never-ready     says nothing, ignores stop and SIGTERM (only a kill ends it)
//   exit N          writes 30 lines to standard error and exits with status N before ready
//   deaf            says ready, then ignores stop and SIGTERM
//   normal [MS]     says ready in pieces with CRLF, a malformed line, an unknown event and two
//                   keys split across writes; on stop writes 20000 keys, waits MS (default 0), says
//                   bye and exits 0
//   flood           floods standard error (invalid UTF-8, an endless line), then exits 101
//   closed-stdin    says ready, closes its standard input, exits 0 half a second later
'use strict';

const fs = require('node:fs');

const [mode, arg] = process.argv.slice(2);
const hang = () => setInterval(() => {}, 1000);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const say = (text) => new Promise((resolve) => process.stdout.write(text, resolve));
process.on('SIGTERM', () => {});

function onStop(fn) {
  let input = '';
  let stopped = false;
  const once = () => { if (!stopped) { stopped = true; fn(); } };
  process.stdin.on('data', (chunk) => {
    input += chunk;
    if (input.includes('{"cmd":"stop"}')) once();
  });
  process.stdin.on('end', once);
}

async function normal(byeDelayMs) {
  // Separate writes with pauses between them arrive as separate chunks.
  for (const piece of ['{"eve', 'nt":"ready"}\r', '\n\n', 'garbage\n{"event":"sparkle"}\n{"down":true,"ev',
                       'ent":"key","vk":65}\r\n{"down":false,"event":"key","vk":65}\n']) {
    await say(piece);
    await sleep(30);
  }
  onStop(async () => {
    // Far more than a pipe holds: bye comes only if the parent keeps reading.
    const key = '{"down":true,"event":"key","vk":66}\n';
    await say(key.repeat(20000));
    await sleep(byeDelayMs);
    await say('{"event":"bye"}\n');
    process.exit(0);
  });
}

async function flood() {
  const line = Buffer.concat([Buffer.from('noise '), Buffer.from([0xff, 0xfe, 0xc3]), Buffer.alloc(200, 0x78),
                             Buffer.from('\n')]);
  const block = Buffer.concat(Array(1000).fill(line)); // about 200 KB
  for (let i = 0; i < 50; i++) fs.writeSync(2, block);
  for (let i = 0; i < 50; i++) fs.writeSync(2, Buffer.alloc(100000, 0x79)); // one 5 MB line
  fs.writeSync(2, '\nvelmora-sidecar: failed to spawn thread: out of luck\n');
  process.exit(101);
}

switch (mode) {
  case 'never-ready':
    process.stdin.resume();
    hang();
    break;
  case 'exit':
    for (let i = 1; i <= 30; i++) process.stderr.write(`velmora-sidecar: line ${i}\n`);
    process.exitCode = Number(arg);
    break;
  case 'deaf':
    say('{"event":"ready"}\n');
    process.stdin.resume();
    hang();
    break;
  case 'normal':
    normal(Number(arg || 0));
    break;
  case 'flood':
    flood();
    break;
  case 'closed-stdin':
    say('{"event":"ready"}\n');
    fs.closeSync(0);
    setTimeout(() => process.exit(0), 500);
    break;
  default:
    process.stderr.write(`unknown mode ${mode}\n`);
    process.exitCode = 2;
}
