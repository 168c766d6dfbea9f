'use strict';
// Packing: a tarball cannot be made without the executable, and scripts/pack.sh packs from any
// folder without leaving anything in the source tree.

const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const client = path.join(__dirname, '..');
const hasNpm = spawnSync('npm', ['--version'], { timeout: 30000 }).status === 0;
const sh = (command, args, cwd) => spawnSync(command, args, { cwd, encoding: 'utf8', timeout: 60000 });

test('packing', { skip: hasNpm ? false : 'no npm', timeout: 120000 }, async (t) => {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-pack-'));
  t.after(() => fs.rmSync(work, { recursive: true, force: true }));

  await t.test('a plain npm pack without bin/velmora-sidecar.exe fails and says why; a dry run lists', () => {
    const copy = path.join(work, 'copy');
    fs.mkdirSync(copy);
    for (const entry of ['package.json', 'index.js', 'index.d.ts', 'README.md', 'lib', 'scripts']) {
      fs.cpSync(path.join(client, entry), path.join(copy, entry), { recursive: true });
    }
    const packed = sh('npm', ['pack', '--pack-destination', work], copy);
    assert.notEqual(packed.status, 0);
    assert.match(packed.stderr, /cannot pack: no bin\/velmora-sidecar\.exe/);
    assert.deepEqual(fs.readdirSync(work).filter((name) => name.endsWith('.tgz')), []);
    const dry = sh('npm', ['pack', '--dry-run', '--json'], copy);
    assert.equal(dry.status, 0, dry.stderr);
    assert.ok(JSON.parse(dry.stdout)[0].files.some((file) => file.path === 'lib/paths.js'));
  });

  await t.test('pack.sh from another folder: exe and README inside, source tree untouched', () => {
    const exe = path.join(work, 'velmora-sidecar.exe');
    fs.writeFileSync(exe, 'MZ stand-in');
    const binBefore = fs.existsSync(path.join(client, 'bin'));
    const packed = sh('bash', [path.join(client, 'scripts', 'pack.sh'), 'velmora-sidecar.exe', 'out'], work);
    assert.equal(packed.status, 0, packed.stderr);
    const tarball = packed.stdout.trim();
    assert.equal(path.dirname(tarball), path.join(work, 'out'));
    const listing = sh('tar', ['-tzf', tarball], work).stdout.split('\n');
    for (const file of ['package/bin/velmora-sidecar.exe', 'package/README.md', 'package/index.d.ts']) {
      assert.ok(listing.includes(file), `${file} missing from ${listing.join(' ')}`);
    }
    assert.equal(fs.existsSync(path.join(client, 'bin')), binBefore);
  });
});
