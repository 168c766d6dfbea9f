'use strict';
// The client against the real executable under Wine, with keys typed through XTest. Needs
// VELMORA_SIDECAR_EXE, a DISPLAY and a WINEPREFIX, as scripts/test.sh sets them.

const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const { startSidecar, restoreLeftovers } = require('..');

const exe = process.env.VELMORA_SIDECAR_EXE;
const start = () => startSidecar({ command: 'wine', args: [exe], readyTimeoutMs: 60000, stopTimeoutMs: 15000 });

function xdotool(...args) {
  return execFileSync('xdotool', args, { timeout: 5000, encoding: 'utf8' });
}

// Resolves once every expected key has been seen; fails with what came instead.
function keysSeen(sidecar, expected, timeoutMs) {
  const seen = [];
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`keys seen: ${JSON.stringify(seen)}`)), timeoutMs);
    sidecar.on('key', (key) => {
      seen.push(key);
      if (expected.every((want) => seen.some((key) => key.vk === want.vk && key.down === want.down))) {
        clearTimeout(timer);
        resolve(seen);
      }
    });
  });
}

test('restoreLeftovers with the real executable: nothing left over, bye and status 0',
  { skip: exe ? false : 'VELMORA_SIDECAR_EXE is not set', timeout: 120000 }, async () => {
    const result = await restoreLeftovers({ command: 'wine', args: [exe], timeoutMs: 60000, stopTimeoutMs: 15000 });
    assert.equal(result.outcome, 'restored');
    assert.equal(result.code, 0);
    assert.equal(result.bye, true);
  });

test('the real sidecar under Wine', { skip: exe ? false : 'VELMORA_SIDECAR_EXE is not set', timeout: 180000 },
  async (t) => {
    const sidecar = await start();
    const warnings = [];
    // Wine's own processes, started with the first sidecar, may inherit and hold its pipes.
    sidecar.on('warning', (warning) => { if (warning.type !== 'pipes-held-open') warnings.push(warning); });
    try {
      assert.equal(sidecar.state, 'ready');

      await t.test('keys typed with XTest arrive as key events', async () => {
        const desktop = xdotool('search', '--name', 'Wine desktop').split('\n')[0];
        assert.ok(desktop, 'no Wine desktop window');
        xdotool('windowfocus', '--sync', desktop);
        const keys = keysSeen(sidecar, [{ vk: 65, down: true }, { vk: 65, down: false }], 10000);
        xdotool('key', 'a');
        await keys;
      });

      await t.test('a second sidecar is refused while one runs', async () => {
        let second = null;
        const err = await start().then((running) => { second = running; }, (error) => error);
        if (second) await second.stop();
        assert.equal(second === null, true, 'a second sidecar said ready');
        assert.equal(err.code, 'ALREADY_RUNNING');
      });

      await t.test('stop: bye, status 0', async () => {
        const result = await sidecar.stop();
        assert.equal(result.outcome, 'restored');
        assert.equal(result.code, 0);
        assert.deepEqual(warnings, []);
      });
    } finally {
      await sidecar.stop();
    }
  });
