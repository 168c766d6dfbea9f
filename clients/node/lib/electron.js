'use strict';

const { sidecarOf } = require('./starts');

const STOP_EVENTS = ['will-quit', 'before-quit'];

// Holds the app's quit until the sidecar has put the user's settings back: the quit is
// cancelled, the sidecar stopped, and the app told to quit again. It holds from the moment it
// is made, so a quit during start-up stops the sidecar before ready and then goes through.
// On will-quit (the default) every window has already agreed to close: on before-quit a window
// that then cancels its close would leave the app running without its lock. A quit that
// another listener cancels (the app's own "quit while the lock holds?") is left alone. The
// binding ends by itself once the sidecar has exited. Returns a function that removes it.
function bindElectronApp(app, target, options = {}) {
  checkBinding(app, options);
  const { stopOn = 'will-quit', onStopping, onStopped, quitTimeoutMs } = options;
  const sidecarKnown = sidecarOf(target);
  let sidecar = null;
  let holding = false;
  let bound = true;

  const unbind = () => {
    if (!bound) return;
    bound = false;
    app.removeListener(stopOn, onQuit);
  };

  // Stop, kill once quitTimeoutMs has passed since the quit, then quit again.
  function hold() {
    if (holding) return;
    holding = true;
    const deadline = quitTimeoutMs === undefined ? undefined : Date.now() + quitTimeoutMs;
    sidecarKnown
      .then(async (known) => {
        if (!known || known.state === 'exited') return;
        notify(onStopping);
        const timeoutMs = deadline === undefined ? undefined : Math.max(0, deadline - Date.now());
        const result = await known.stop({ timeoutMs });
        await notify(onStopped, result);
      })
      .then(() => {
        unbind();
        app.quit();
      });
  }

  function onQuit(event) {
    if (sidecar && sidecar.state === 'exited') return;
    if (holding) {
      event.preventDefault();
      return;
    }
    if (event.defaultPrevented === true) return; // cancelled by a listener before this one
    event.preventDefault();
    const preventedByOthers = watchPrevention(event);
    // Listeners after this one run before the next tick.
    process.nextTick(() => {
      if (!preventedByOthers()) hold();
    });
  }

  app.on(stopOn, onQuit);
  sidecarKnown.then((known) => {
    if (!known) {
      if (!holding) unbind(); // never ran: nothing to hold
      return;
    }
    sidecar = known;
    known.exited.then(() => { if (!holding) unbind(); });
  });
  return unbind;
}

// This binding's own preventDefault() sets the event's defaultPrevented, so only watching the
// calls tells whether a listener after it cancelled the quit too. An event that cannot be
// watched counts as cancelled by nobody else.
function watchPrevention(event) {
  let prevented = false;
  const own = event.preventDefault;
  try {
    Object.defineProperty(event, 'preventDefault', {
      configurable: true,
      writable: true,
      value(...args) {
        prevented = true;
        return own.apply(this, args);
      },
    });
  } catch {
    // a frozen event
  }
  return () => prevented;
}

// An app's callback must not keep it from quitting: its failure is reported as a warning.
async function notify(callback, ...args) {
  if (callback === undefined) return;
  try {
    await callback(...args);
  } catch (err) {
    process.emitWarning(err instanceof Error ? err : new Error(String(err)));
  }
}

// The binding's options among startSidecar()'s.
function bindingOptions({ stopOn, onStopping, onStopped, quitTimeoutMs }) {
  return { stopOn, onStopping, onStopped, quitTimeoutMs };
}

// Checked before a sidecar is started for it, so that a bad option starts nothing.
function checkBinding(app, { stopOn = 'will-quit', onStopping, onStopped, quitTimeoutMs } = {}) {
  if (!STOP_EVENTS.includes(stopOn)) {
    throw new TypeError(`stopOn must be ${STOP_EVENTS.map((name) => `'${name}'`).join(' or ')}`);
  }
  if (!app || typeof app.on !== 'function' || typeof app.removeListener !== 'function' ||
      typeof app.quit !== 'function') {
    throw new TypeError('app must be Electron\'s app (on, removeListener and quit)');
  }
  for (const [name, value] of [['onStopping', onStopping], ['onStopped', onStopped]]) {
    if (value !== undefined && typeof value !== 'function') throw new TypeError(`${name} must be a function`);
  }
  if (quitTimeoutMs !== undefined &&
      (typeof quitTimeoutMs !== 'number' || !Number.isFinite(quitTimeoutMs) || quitTimeoutMs < 0)) {
    throw new TypeError('quitTimeoutMs must be a number of milliseconds');
  }
}

module.exports = { bindElectronApp, checkBinding, bindingOptions };
