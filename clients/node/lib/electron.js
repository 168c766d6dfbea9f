'use strict';

// Holds the app's quit until the sidecar has put the user's settings back: the first
// before-quit is cancelled, the sidecar is stopped, and then the app quits again. Returns a
// function that removes the binding.
function bindElectronApp(app, sidecar) {
  let stopping = false;
  let stopped = false;
  const onBeforeQuit = (event) => {
    if (stopped || sidecar.state === 'exited') return;
    event.preventDefault();
    if (stopping) return;
    stopping = true;
    sidecar.stop().then(() => {
      stopped = true;
      app.quit();
    });
  };
  app.on('before-quit', onBeforeQuit);
  return () => app.removeListener('before-quit', onBeforeQuit);
}

module.exports = { bindElectronApp };
