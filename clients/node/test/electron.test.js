'use strict';
// The Electron glue with a stand-in app: the quit must wait for the sidecar's bye, from the
// first moment of start-up, and only once every window has agreed to close; a quit the app
// itself cancels is left alone; the app hears when the quit-time stop begins and ends.

const test = require('node:test');
const assert = require('node:assert/strict');
const { EventEmitter } = require('node:events');
const path = require('node:path');
const { startSidecar, bindElectronApp } = require('..');

const fake = path.join(__dirname, 'fixtures', 'fake-sidecar.js');
const run = (mode, options = {}, ...modeArgs) =>
  startSidecar({ command: process.execPath, args: [fake, mode, ...modeArgs], ...options });

// Electron's app.quit(): before-quit, then every window is asked to close (one may refuse),
// then will-quit; a listener that prevents either event calls the quit off.
function standInApp({ windowRefuses = false } = {}) {
  const app = new EventEmitter();
  app.quits = [];
  app.done = new Promise((resolve) => { app.onQuit = resolve; });
  const cancelled = (name) => {
    const event = { defaultPrevented: false, preventDefault() { this.defaultPrevented = true; } };
    app.emit(name, event);
    return event.defaultPrevented;
  };
  app.quit = () => {
    if (cancelled('before-quit')) return app.quits.push('held at before-quit');
    if (windowRefuses) return app.quits.push('a window refused');
    if (cancelled('will-quit')) return app.quits.push('held at will-quit');
    app.quits.push('quit');
    app.onQuit();
  };
  return app;
}

test('bindElectronApp', { timeout: 30000 }, async (t) => {
  await t.test('the quit waits for bye, and the second quit goes through', async () => {
    const sidecar = await run('normal', {}, '300');
    const app = standInApp();
    bindElectronApp(app, sidecar);
    let stateAtQuit;
    app.done.then(() => { stateAtQuit = sidecar.state; });
    app.quit();
    app.quit(); // a second request while stopping is held too, without a second stop
    await app.done;
    assert.deepEqual(app.quits, ['held at will-quit', 'held at will-quit', 'quit']);
    assert.equal(stateAtQuit, 'exited');
    assert.equal((await sidecar.exited).outcome, 'restored');
  });

  for (const [how, bind] of [
    ['from the start call', (app) => run('slow-ready', { app }, '60000')],
    ['from the start promise', (app) => { const started = run('slow-ready', {}, '60000'); bindElectronApp(app, started); return started; }],
  ]) {
    await t.test(`made ${how}: a quit during start-up stops the sidecar, then goes through`, async () => {
      const app = standInApp();
      const started = bind(app);
      app.quit(); // the child is not even spawned yet
      const err = await started.then(() => assert.fail('said ready'), (error) => error);
      await app.done;
      assert.equal(err.code, 'ABORTED');
      assert.equal(err.exit.outcome, 'restored');
      assert.deepEqual(app.quits, ['held at will-quit', 'quit']);
    });
  }

  await t.test('a window that refuses to close leaves the lock running', async () => {
    const sidecar = await run('normal');
    const app = standInApp({ windowRefuses: true });
    bindElectronApp(app, sidecar);
    app.quit();
    assert.deepEqual(app.quits, ['a window refused']);
    assert.equal(sidecar.state, 'ready'); // a stop would have begun within the quit
    assert.equal(app.listenerCount('will-quit'), 1);
    await sidecar.stop();
  });

  await t.test('the function it returns removes it; stopOn before-quit', async () => {
    const sidecar = await run('normal');
    const app = standInApp();
    const unbind = bindElectronApp(app, sidecar, { stopOn: 'before-quit' });
    assert.equal(app.listenerCount('before-quit'), 1);
    unbind();
    app.quit();
    assert.deepEqual(app.quits, ['quit']);
    assert.equal(sidecar.state, 'ready');
    await sidecar.stop();
    assert.throws(() => bindElectronApp(app, sidecar, { stopOn: 'quit' }), TypeError);
  });

  for (const appFirst of [true, false]) {
    await t.test(`before-quit, the app asks ${appFirst ? 'before' : 'after'} the binding: no keeps the lock`, async () => {
      const sidecar = await run('normal');
      const app = standInApp();
      const answers = ['no', 'yes'];
      let asked = 0;
      const question = (event) => {
        if (answers[asked - 1] === 'yes') return; // the app's own quit after a yes
        event.preventDefault();
        const answer = answers[asked++];
        setImmediate(() => { if (answer === 'yes') app.quit(); });
      };
      if (appFirst) app.on('before-quit', question);
      bindElectronApp(app, sidecar, { stopOn: 'before-quit' });
      if (!appFirst) app.on('before-quit', question);
      app.quit();
      await new Promise((resolve) => setTimeout(resolve, 100));
      assert.equal(sidecar.state, 'ready');
      app.quit();
      await app.done;
      assert.equal(asked, 2, 'asked once for each quit');
      assert.equal((await sidecar.exited).outcome, 'restored');
    });
  }

  await t.test('onStopping, onStopped and quitTimeoutMs from the start call: stop, kill, then quit', async () => {
    const app = standInApp();
    const seen = [];
    const sidecar = await run('deaf', {
      app,
      stopTimeoutMs: 10 * 60 * 1000,
      quitTimeoutMs: 300,
      onStopping: () => seen.push(`stopping while ${sidecar.state}`),
      onStopped: async (result) => {
        await new Promise((resolve) => setTimeout(resolve, 20)); // a dialog, say: the quit waits
        seen.push(`stopped: ${result.outcome}`);
      },
    });
    app.done.then(() => seen.push('quit'));
    app.quit();
    await app.done;
    assert.deepEqual(seen, ['stopping while ready', 'stopped: killed', 'quit']);
    assert.throws(() => bindElectronApp(app, sidecar, { quitTimeoutMs: -1 }), TypeError);
  });
});
