'use strict';

const fs = require('node:fs');
const { SidecarError } = require('./errors');

// The executable is an x86-64 Windows program; Windows on Arm runs it emulated.
function isSupported() {
  return process.platform === 'win32';
}

function startsWithMZ(file) {
  let fd;
  try {
    fd = fs.openSync(file, 'r');
    const header = Buffer.alloc(2);
    return fs.readSync(fd, header, 0, 2, 0) === 2 && header.toString('latin1') === 'MZ';
  } catch {
    return false; // the spawn says what is wrong with it
  } finally {
    if (fd !== undefined) fs.closeSync(fd);
  }
}

// Elsewhere libuv hands a file it cannot execute to /bin/sh, which would read the Windows
// program as a script and fail with syntax errors and a misleading status. A script (the
// tests' fakes) still runs, and so does anything run through a command of the caller's.
function refuseForeignProgram(file, command) {
  if (command !== undefined || isSupported() || !startsWithMZ(file)) return;
  throw new SidecarError('UNSUPPORTED_PLATFORM',
    `the cleaning lock needs Windows: ${file} is a Windows program and cannot run on ${process.platform}`,
    { path: file });
}

module.exports = { isSupported, refuseForeignProgram };
