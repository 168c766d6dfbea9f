'use strict';

const fs = require('node:fs');
const path = require('node:path');
const { SidecarError } = require('./errors');

const EXE = 'velmora-sidecar.exe';

// Electron can read files inside app.asar but cannot run a program from there; the packager's
// asar unpack option puts the executable in app.asar.unpacked beside it.
function asarUnpacked(file) {
  return file.replace(/([\\/])app\.asar(?=[\\/])/, '$1app.asar.unpacked');
}

// Where a packaged app may hold the executable, in the order they are tried. A main process
// bundled by vite, webpack or esbuild has no node_modules, so this package's bin/ is not
// there: such apps ship the executable as an extra resource, beside app.asar. Only Electron
// sets process.resourcesPath.
function candidates() {
  const places = [];
  if (typeof process.resourcesPath === 'string' && process.resourcesPath !== '') {
    places.push(path.join(process.resourcesPath, EXE));
  }
  places.push(asarUnpacked(path.join(__dirname, '..', 'bin', EXE)));
  return places;
}

function isFile(file) {
  try {
    return fs.statSync(file).isFile();
  } catch {
    return false;
  }
}

// An explicit path is the only place tried: an app that names its executable must not end up
// running some other copy.
function resolveSidecarPath(explicit) {
  const places = explicit === undefined ? candidates() : [explicit];
  const found = places.find(isFile);
  if (found !== undefined) return found;
  throw new SidecarError('SPAWN_FAILED',
    `no sidecar executable; looked for it at: ${places.join(', ')}`,
    { path: places[0], tried: places });
}

module.exports = { asarUnpacked, candidates, resolveSidecarPath };
