'use strict';

const fs = require('node:fs');
const path = require('node:path');
const { createRequire } = require('node:module');
const { SidecarError } = require('./errors');

const EXE = 'velmora-sidecar.exe';
const PACKAGE = 'velmora-sidecar';
const WHAT_TO_DO = 'ship it with the app as an extra resource (electron-builder extraResources, ' +
  'Forge extraResource), or pass path';

// Electron can read files inside app.asar but cannot run a program from there; the packager's
// asar unpack option puts the executable in app.asar.unpacked beside it.
function asarUnpacked(file) {
  return file.replace(/([\\/])app\.asar(?=[\\/])/, '$1app.asar.unpacked');
}

// Only Electron sets process.resourcesPath; extra resources go there, beside app.asar. A main
// process bundled by vite, webpack or esbuild packages no node_modules, so this is where such
// apps ship the executable.
function extraResource() {
  const resources = process.resourcesPath;
  return typeof resources === 'string' && resources !== '' ? path.join(resources, EXE) : undefined;
}

// This package's own bin/. An ES module bundle has no __dirname: reaching it there throws, and
// the place is skipped.
function ownBin() {
  return asarUnpacked(path.join(__dirname, '..', 'bin', EXE));
}

// In development a bundled main process runs from .vite/build or .webpack, far from this
// package: the app's folder finds it as Node would, hoisted node_modules included. A packaged
// app is skipped: its copy inside app.asar cannot run, and ownBin() already maps it.
function appsPackage(app) {
  const electronApp = app ?? reachableElectronApp();
  if (!electronApp || electronApp.isPackaged === true || typeof electronApp.getAppPath !== 'function') {
    return undefined;
  }
  // A require of our own, which no bundler rewrites into a module id.
  const fromApp = createRequire(path.join(electronApp.getAppPath(), 'package.json'));
  return path.join(path.dirname(fromApp.resolve(`${PACKAGE}/package.json`)), 'bin', EXE);
}

// Electron answers a require of 'electron' from anywhere, but only its main process has the app.
function reachableElectronApp() {
  if (!process.versions.electron || process.type !== 'browser') return undefined;
  return createRequire(path.join(process.cwd(), 'main.js'))('electron').app;
}

// Each place is computed only when reached, in this order; one that cannot be computed in this
// process is left out.
function* candidates(app) {
  for (const place of [extraResource, ownBin, appsPackage]) {
    let file;
    try {
      file = place(app);
    } catch {
      continue;
    }
    if (typeof file === 'string') yield file;
  }
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
function resolveSidecarPath(explicit, { app } = {}) {
  if (explicit !== undefined) {
    if (isFile(explicit)) return explicit;
    throw new SidecarError('SPAWN_FAILED', `no sidecar executable at ${explicit}`,
      { path: explicit, tried: [explicit] });
  }
  const tried = [];
  for (const place of candidates(app)) {
    if (isFile(place)) return place;
    tried.push(place);
  }
  const where = tried.length ? `looked for it at: ${tried.join(', ')}` : 'no place to look for it in this process';
  throw new SidecarError('SPAWN_FAILED', `no sidecar executable; ${where}. To fix: ${WHAT_TO_DO}`,
    { path: tried[0], tried });
}

module.exports = { asarUnpacked, candidates, resolveSidecarPath };
