'use strict';
// Where the executable is looked for, in the layouts an app is packaged in: node_modules in
// app.asar (unpacked beside it), a bundled main process with the executable as an extra
// resource, and nothing found.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { asarUnpacked } = require('../lib/paths');

const EXE = 'velmora-sidecar.exe';
const lib = path.join(__dirname, '..', 'lib');

// This package's lib/ copied to where a packaged app would hold it, loaded from there.
function installAt(folder) {
  fs.mkdirSync(folder, { recursive: true });
  for (const file of ['paths.js', 'errors.js']) fs.copyFileSync(path.join(lib, file), path.join(folder, file));
  return require(path.join(folder, 'paths.js'));
}

function touch(file) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, 'MZ');
}

test('resolveSidecarPath in a packaged app', async (t) => {
  const resources = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-resources-'));
  const saved = Object.getOwnPropertyDescriptor(process, 'resourcesPath');
  process.resourcesPath = resources; // what Electron sets
  t.after(() => {
    if (saved) Object.defineProperty(process, 'resourcesPath', saved);
    else delete process.resourcesPath;
    fs.rmSync(resources, { recursive: true, force: true });
  });

  await t.test('bundled main process: nothing found names each place tried', () => {
    const { resolveSidecarPath } = installAt(path.join(resources, 'app.asar', '.vite', 'build'));
    const tried = [path.join(resources, EXE), path.join(resources, 'app.asar.unpacked', '.vite', 'bin', EXE)];
    assert.throws(() => resolveSidecarPath(), (err) => {
      assert.equal(err.code, 'SPAWN_FAILED');
      assert.deepEqual(err.tried, tried);
      for (const place of tried) assert.ok(err.message.includes(place), err.message);
      return true;
    });
    touch(path.join(resources, EXE)); // extraResources / extraResource
    assert.equal(resolveSidecarPath(), path.join(resources, EXE));
    fs.rmSync(path.join(resources, EXE));
  });

  await t.test('node_modules in app.asar: the unpacked copy', () => {
    const pkg = path.join('node_modules', 'velmora-sidecar');
    const { resolveSidecarPath } = installAt(path.join(resources, 'app.asar', pkg, 'lib'));
    const unpacked = path.join(resources, 'app.asar.unpacked', pkg, 'bin', EXE);
    touch(unpacked);
    assert.equal(resolveSidecarPath(), unpacked);
  });

  await t.test('an explicit path is the only place tried', () => {
    const { resolveSidecarPath } = require('..');
    const missing = path.join(resources, 'elsewhere', EXE);
    assert.throws(() => resolveSidecarPath(missing), (err) => assert.deepEqual(err.tried, [missing]) ?? true);
  });
});

test('asarUnpacked maps app.asar only as a whole path component', () => {
  assert.equal(asarUnpacked('C:\\App\\resources\\app.asar\\node_modules\\velmora-sidecar\\bin\\velmora-sidecar.exe'),
               'C:\\App\\resources\\app.asar.unpacked\\node_modules\\velmora-sidecar\\bin\\velmora-sidecar.exe');
  assert.equal(asarUnpacked('/opt/app/resources/app.asar/x.exe'), '/opt/app/resources/app.asar.unpacked/x.exe');
  assert.equal(asarUnpacked('/opt/app/resources/app.asar.unpacked/x.exe'), '/opt/app/resources/app.asar.unpacked/x.exe');
});
