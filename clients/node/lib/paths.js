'use strict';

const path = require('node:path');

// Electron can read files inside app.asar but cannot run a program from there; the packager's
// asarUnpack puts the executable in app.asar.unpacked beside it.
function asarUnpacked(file) {
  return file.replace(/([\\/])app\.asar(?=[\\/])/, '$1app.asar.unpacked');
}

function resolveSidecarPath() {
  return asarUnpacked(path.join(__dirname, '..', 'bin', 'velmora-sidecar.exe'));
}

module.exports = { asarUnpacked, resolveSidecarPath };
