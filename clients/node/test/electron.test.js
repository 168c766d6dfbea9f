'use strict';
// The Electron glue with a stand-in app: the quit must wait for the sidecar's bye.

const test = require('node:test');
const assert = require('node:assert/strict');
const { EventEmitter } = require('node:events');
const path = require('node:path');
const { startSidecar, bindElectronApp, resolveSidecarPath } = require('..');
const { asarUnpacked } = require('../lib/paths');

const fake = path.join(__dirname, 'fake-sidecar.js');

// Electron's app.quit() emits before-quit and quits unless a listener prevented it.
function standInApp(onQuit) {
  const app = new EventEmitter();
  app.quits = [];
  app.quit = () => {
    const event = { prevented: false, preventDefault() { this.prevented = true; } };
    app.emit('before-quit', event);
    app.quits.push(event.prevented ? 'held' : 'quit');
    if (!event.prevented) onQuit();
  };
  return app;
}

test('bindElectronApp: the quit waits for bye, and the second quit goes through', { timeout: 20000 }, async () => {
  const sidecar = await startSidecar({ command: process.execPath, args: [fake, 'normal', '300'] });
  let stateAtQuit;
  const quit = new Promise((resolve) => {
    const app = standInApp(() => { stateAtQuit = sidecar.state; resolve(app); });
    bindElectronApp(app, sidecar);
    app.quit();
    app.quit(); // a second request while stopping is held too, without a second stop
  });
  const app = await quit;
  assert.deepEqual(app.quits, ['held', 'held', 'quit']);
  assert.equal(stateAtQuit, 'exited');
  assert.equal((await sidecar.exited).outcome, 'restored');
});

test('the bundled executable, outside app.asar', () => {
  assert.equal(path.basename(resolveSidecarPath()), 'velmora-sidecar.exe');
  assert.equal(asarUnpacked('C:\\App\\resources\\app.asar\\node_modules\\velmora-sidecar\\bin\\velmora-sidecar.exe'),
               'C:\\App\\resources\\app.asar.unpacked\\node_modules\\velmora-sidecar\\bin\\velmora-sidecar.exe');
  assert.equal(asarUnpacked('/opt/app/resources/app.asar/x.exe'), '/opt/app/resources/app.asar.unpacked/x.exe');
  assert.equal(asarUnpacked('/opt/app/resources/app.asar.unpacked/x.exe'), '/opt/app/resources/app.asar.unpacked/x.exe');
});
