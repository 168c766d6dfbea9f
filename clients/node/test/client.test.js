'use strict';
// The client against fake sidecars written in Node: every way start-up can fail, and the
// stop sequence against sidecars that behave, ignore stop or vanish.

const test = require('node:test');
const assert = require('node:assert/strict');
const { once } = require('node:events');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { startSidecar, restoreLeftovers, SidecarError, isSupported } = require('..');

const fake = path.join(__dirname, 'fixtures', 'fake-sidecar.js');
const run = (mode, options = {}, ...modeArgs) =>
  startSidecar({ command: process.execPath, args: [fake, mode, ...modeArgs], ...options });
const failure = (promise) => promise.then(() => assert.fail('expected start-up to fail'), (err) => err);

function alive(pid) {
  try {
    process.kill(pid, 0);
    return true;
  } catch {
    return false;
  }
}

test('start-up failures', { timeout: 30000 }, async (t) => {
  await t.test('missing executable: SPAWN_FAILED with the path', async () => {
    const missing = path.join(__dirname, 'no-such-sidecar.exe');
    const err = await failure(startSidecar({ path: missing }));
    assert.ok(err instanceof SidecarError);
    assert.equal(err.code, 'SPAWN_FAILED');
    assert.equal(err.path, missing);
  });

  await t.test('never ready: stopped first, killed after the stop time-out', async () => {
    let pid;
    const err = await failure(run('never-ready', {
      readyTimeoutMs: 300, stopTimeoutMs: 300, onSpawn: (sidecar) => { pid = sidecar.pid; },
    }));
    assert.equal(err.code, 'READY_TIMEOUT');
    assert.equal(err.exit.outcome, 'killed');
    assert.equal(alive(pid), false);
  });

  await t.test('aborted before ready: the reason is the cause', async () => {
    const controller = new AbortController();
    const reason = new Error('the user cancelled');
    const err = await failure(run('never-ready', {
      signal: controller.signal, stopTimeoutMs: 200, onSpawn: () => controller.abort(reason),
    }));
    assert.equal(err.code, 'ABORTED');
    assert.equal(err.cause, reason);
    const timedOut = await failure(run('never-ready', { signal: AbortSignal.timeout(1), stopTimeoutMs: 200 }));
    assert.equal(timedOut.cause.name, 'TimeoutError');
  });

  for (const [status, code] of [[101, 'FATAL'], [102, 'HOOK_INSTALL_FAILED'], [103, 'ALREADY_RUNNING'],
                                [3, 'EXITED_BEFORE_READY']]) {
    await t.test(`status ${status}: ${code} with the end of standard error`, async () => {
      const err = await failure(run('exit', {}, String(status)));
      assert.equal(err.code, code);
      assert.equal(err.exit.code, status);
      assert.equal(err.exitCode, status);
      assert.equal(err.stderr.length, 20);
      assert.equal(err.stderr.at(-1), 'velmora-sidecar: line 30');
    });
  }

  await t.test('flood on standard error: bounded, decoded leniently, last line kept', async () => {
    const err = await failure(run('flood'));
    assert.equal(err.code, 'FATAL');
    assert.equal(err.stderr.at(-1), 'velmora-sidecar: failed to spawn thread: out of luck');
    assert.ok(err.stderr.length <= 20);
    assert.ok(err.stderr.every((line) => line.length <= 4096));
    assert.ok(err.stderr.some((line) => line.includes('\ufffd')));
  });
});

test('a running sidecar', { timeout: 30000 }, async (t) => {
  await t.test('split lines, CRLF, junk and stderr: every event; abort stops it; one exit', async () => {
    const controller = new AbortController();
    const sidecar = await run('normal', { signal: controller.signal });
    assert.equal(sidecar.state, 'ready');
    const keys = [];
    const warnings = [];
    const exits = [];
    const stderr = [];
    let locks = 0;
    sidecar.on('warning', (warning) => warnings.push(warning));
    sidecar.on('session-lock', () => { locks += 1; });
    sidecar.on('stderr', (line) => stderr.push(line));
    sidecar.on('exit', (result) => exits.push(result));
    await new Promise((resolve) => sidecar.on('key', (key) => { keys.push(key); if (keys.length === 2) resolve(); }));
    assert.deepEqual(keys, [{ vk: 65, down: true }, { vk: 65, down: false }]);
    assert.deepEqual(warnings.map((w) => [w.type, w.line]), [['malformed-line', 'garbage'],
                                                             ['unknown-event', '{"event":"sparkle"}']]);
    controller.abort();
    const result = await sidecar.exited;
    const lidLine = 'velmora-sidecar: failed to write the lid-close action: denied (os error 5)';
    assert.deepEqual(result, { outcome: 'restored', code: 0, signal: null, bye: true, stderr: [lidLine] });
    assert.equal(locks, 1);
    assert.deepEqual(stderr, [lidLine]);
    assert.equal(sidecar.state, 'exited');
    assert.equal(await sidecar.stop(), result);
    await new Promise(setImmediate);
    assert.equal(exits.length, 1);
    assert.ok(keys.length > 2000, 'the keys written during the stop arrive too');
  });

  await t.test('no listeners: its output is still drained, so bye gets through', async () => {
    const sidecar = await run('normal', { stopTimeoutMs: 10000 });
    assert.equal((await sidecar.stop()).outcome, 'restored');
  });

  await t.test('ignores stop: killed after the time-out', async () => {
    const sidecar = await run('deaf', { stopTimeoutMs: 300 });
    const [first, second] = await Promise.all([sidecar.stop(), sidecar.stop()]);
    assert.equal(first, second);
    assert.equal(first.outcome, 'killed');
    assert.equal(alive(sidecar.pid), false);
  });

  await t.test('a later stop with a shorter time-out brings the kill forward', async () => {
    const sidecar = await run('deaf', { stopTimeoutMs: 10 * 60 * 1000 });
    const first = sidecar.stop();
    const result = await sidecar.stop({ timeoutMs: 100 }); // else the test's time-out ends it
    assert.equal(await first, result);
    assert.equal(result.outcome, 'killed');
  });

  await t.test('diagnostic and env reach the child', async () => {
    const seen = async (options) => {
      const sidecar = await run('env', options);
      const [line] = await once(sidecar, 'stderr');
      await sidecar.stop();
      return JSON.parse(line);
    };
    const env = { ...process.env, VELMORA_DIAG: '1', VELMORA_FAKE_TAG: 'tag' };
    assert.deepEqual(await seen({ env, diagnostic: false }), { VELMORA_DIAG: null, VELMORA_FAKE_TAG: 'tag' });
    assert.deepEqual(await seen({ env: { PATH: process.env.PATH }, diagnostic: true }),
                     { VELMORA_DIAG: '1', VELMORA_FAKE_TAG: null });
  });

  await t.test('gone before the stop is written: EPIPE swallowed, exited without bye', async () => {
    const sidecar = await run('closed-stdin');
    const result = await sidecar.stop();
    assert.equal(result.outcome, 'exited');
    assert.equal(result.code, 0);
    assert.equal(result.bye, false);
  });
});

test('restoreLeftovers', { timeout: 30000 }, async (t) => {
  const restore = (mode) => restoreLeftovers({ command: process.execPath, args: [fake, mode] });

  await t.test('runs the restore-only mode to its end', async () => {
    const result = await restore('leftovers');
    assert.equal(result.outcome, 'restored');
    assert.match(result.stderr.join('\n'), /never finished/);
    assert.equal((await restore('normal')).bye, true);
  });

  await t.test('while a lock runs: ALREADY_RUNNING', async () => {
    const err = await failure(restore('locked'));
    assert.equal(err.code, 'ALREADY_RUNNING');
    assert.equal(err.exitCode, 103);
  });

  await t.test('a start issued while the restore runs waits for it, unless aborted', async () => {
    const lock = path.join(os.tmpdir(), `velmora-instance-${process.pid}`);
    const restoring = restoreLeftovers({ command: process.execPath, args: [fake, 'instance', lock] });
    const controller = new AbortController();
    const cancelled = failure(run('instance', { signal: controller.signal }, lock));
    controller.abort();
    assert.equal(await Promise.race([cancelled.then((err) => err.code), restoring]), 'ABORTED');
    const sidecar = await run('instance', {}, lock);
    assert.equal((await restoring).outcome, 'restored');
    assert.equal((await sidecar.stop()).outcome, 'restored');
  });

  await t.test('an executable without the mode starts a lock: stopped, and no restore claimed', async () => {
    const err = await failure(restore('no-restore-mode'));
    assert.equal(err.code, 'RESTORE_UNSUPPORTED');
    assert.equal(err.exit.outcome, 'restored'); // the lock it took was stopped properly
  });
});

test('a Windows program where Windows is not', { skip: isSupported() ? 'this is Windows' : false, timeout: 30000 },
  async (t) => {
    const work = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-platform-'));
    t.after(() => fs.rmSync(work, { recursive: true, force: true }));
    const ran = path.join(work, 'ran');
    const exe = path.join(work, 'velmora-sidecar.exe');
    fs.writeFileSync(exe, `MZ\ntouch '${ran}'\n`, { mode: 0o755 }); // /bin/sh would run the second line

    for (const [name, call] of [['startSidecar', startSidecar], ['restoreLeftovers', restoreLeftovers]]) {
      await t.test(`${name}: refused before anything runs`, async () => {
        const err = await failure(call({ path: exe }));
        assert.equal(err.code, 'UNSUPPORTED_PLATFORM');
        assert.match(err.message, /needs Windows/);
        assert.equal(fs.existsSync(ran), false);
      });
    }

    await t.test('a script, and a command of the caller\'s, still run', async () => {
      const sidecar = await startSidecar({ path: fake, args: ['normal'] });
      assert.equal((await sidecar.stop()).outcome, 'restored');
      const labelled = path.join(work, 'labelled.js');
      fs.writeFileSync(labelled, 'MZ: process.exit(3);\n');
      assert.equal((await failure(startSidecar({ command: process.execPath, path: labelled }))).code,
                   'EXITED_BEFORE_READY');
    });
  });
