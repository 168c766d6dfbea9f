'use strict';
// Where the executable is looked for, in the layouts an app is packaged in: node_modules in
// app.asar (unpacked beside it), a bundled main process with the executable as an extra
// resource, and nothing found; and from a main process bundled as an ES module, packaged and in
// development.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
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

let esbuild = null;
try {
  esbuild = require('esbuild');
} catch {
  // a development dependency: npm ci installs it
}

// An app's main process laid out as Forge's vite template does, bundled by esbuild as an ES
// module (no __dirname; with the createRequire banner CommonJS packages need there), in a
// workspace whose node_modules are hoisted above the app. Electron is simulated: its resources
// folder, process.versions.electron, process.type, and an `electron` module with the app.
const MAIN = `import { app } from 'electron';
import { resolveSidecarPath } from 'velmora-sidecar';
process.resourcesPath = process.env.RESOURCES;
Object.defineProperty(process.versions, 'electron', { value: '33.2.0' });
process.type = 'browser';
app.isPackaged = process.env.PACKAGED === '1';
try {
  console.log(JSON.stringify({ found: resolveSidecarPath(undefined, process.env.GIVE_APP ? { app } : undefined) }));
} catch ({ code, message, tried }) {
  console.log(JSON.stringify({ code, tried, advice: /extraResources.*or pass path/.test(message) }));
}`;

test('a main process bundled as an ES module', { skip: esbuild ? false : 'no esbuild: run npm ci' }, async (t) => {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-esm-'));
  t.after(() => fs.rmSync(work, { recursive: true, force: true }));
  const put = (file, text) => { touch(file); fs.writeFileSync(file, text); };
  const installed = path.join(work, 'node_modules', 'velmora-sidecar');
  for (const entry of ['package.json', 'index.js', 'lib']) {
    fs.cpSync(path.join(__dirname, '..', entry), path.join(installed, entry), { recursive: true });
  }
  touch(path.join(installed, 'bin', EXE));
  put(path.join(work, 'node_modules', 'electron', 'index.js'),
      'exports.app = { isPackaged: false, getAppPath: () => process.cwd() };');
  const appDir = path.join(work, 'packages', 'app');
  put(path.join(appDir, 'main.mjs'), MAIN);
  const bundle = path.join(appDir, '.vite', 'build', 'main.mjs');
  await esbuild.build({
    entryPoints: [path.join(appDir, 'main.mjs')], outfile: bundle, bundle: true, platform: 'node', format: 'esm',
    external: ['electron'], logLevel: 'silent',
    banner: { js: "import { createRequire } from 'node:module'; const require = createRequire(import.meta.url);" },
  });
  const packaged = path.join(work, 'app-resources');
  touch(path.join(packaged, EXE));
  const dev = path.join(work, 'electron-dist-resources');
  const inPackage = { found: path.join(installed, 'bin', EXE) };

  for (const [name, env, expected] of [
    ['packaged: the extra resource', { RESOURCES: packaged, PACKAGED: '1' }, { found: path.join(packaged, EXE) }],
    ['development, the app given: the hoisted package', { RESOURCES: dev, GIVE_APP: '1' }, inPackage],
    ['development: Electron\'s app reached by itself', { RESOURCES: dev }, inPackage],
    ['packaged without the extra resource: what was tried, and what to do', { RESOURCES: dev, PACKAGED: '1' },
     { code: 'SPAWN_FAILED', tried: [path.join(dev, EXE)], advice: true }],
  ]) {
    await t.test(name, () => {
      const child = spawnSync(process.execPath, [bundle], { cwd: appDir, encoding: 'utf8', timeout: 30000, env });
      assert.equal(child.status, 0, child.stderr);
      assert.deepEqual(JSON.parse(child.stdout), expected);
    });
  }
});
