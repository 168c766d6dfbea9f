'use strict';

const { sidecarOf } = require('./starts');

const STOP_EVENTS = ['will-quit', 'before-quit'];

// Holds the app's quit until the sidecar has put the user's settings back: the quit is
// cancelled, the sidecar stopped, and the app told to quit again. It holds from the moment it
// is made, so a quit during start-up stops the sidecar before ready and then goes through.
// On will-quit (the default) every window has already agreed to close: on before-quit a window
// that then cancels its close would leave the app running without its lock. The binding ends
// by itself once the sidecar has exited. Returns a function that removes it.
function bindElectronApp(app, target, { stopOn = 'will-quit' } = {}) {
  checkBinding(app, stopOn);
  const sidecarKnown = sidecarOf(target);
  let sidecar = null;
  let holding = false;
  let bound = true;

  const unbind = () => {
    if (!bound) return;
    bound = false;
    app.removeListener(stopOn, onQuit);
  };

  function onQuit(event) {
    if (sidecar && sidecar.state === 'exited') return;
    event.preventDefault();
    if (holding) return;
    holding = true;
    sidecarKnown
      .then((known) => known && known.stop())
      .then(() => {
        unbind();
        app.quit();
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

// Checked before a sidecar is started for it, so that a bad option starts nothing.
function checkBinding(app, stopOn = 'will-quit') {
  if (!STOP_EVENTS.includes(stopOn)) {
    throw new TypeError(`stopOn must be ${STOP_EVENTS.map((name) => `'${name}'`).join(' or ')}`);
  }
  if (!app || typeof app.on !== 'function' || typeof app.removeListener !== 'function' ||
      typeof app.quit !== 'function') {
    throw new TypeError('app must be Electron\'s app (on, removeListener and quit)');
  }
}

module.exports = { bindElectronApp, checkBinding };
