#!/usr/bin/env node
// prepack: a tarball without the executable installs cleanly and fails only in the app, at
// the first lock. scripts/pack.sh puts the built one in place. A dry run makes no tarball, so
// it only lists what one would hold.
'use strict';

const fs = require('node:fs');
const path = require('node:path');

const exe = path.join(__dirname, '..', 'bin', 'velmora-sidecar.exe');
let header = null;
try {
  const fd = fs.openSync(exe, 'r');
  header = Buffer.alloc(2);
  fs.readSync(fd, header, 0, 2, 0);
  fs.closeSync(fd);
} catch {
  // reported below
}
if (header === null || header.toString('latin1') !== 'MZ') {
  const dry = process.env.npm_config_dry_run === 'true';
  process.stderr.write(`velmora-sidecar: ${dry ? 'a real pack would refuse: ' : ''}cannot pack: ` +
    `${header === null ? 'no' : 'not a Windows program at'} bin/velmora-sidecar.exe. Build the sidecar and ` +
    `pack with scripts/pack.sh, which puts it there.\n`);
  process.exit(dry ? 0 : 1);
}
