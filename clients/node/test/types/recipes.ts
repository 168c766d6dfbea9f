// The README's recipes, compiled as an Electron app would, exactOptionalPropertyTypes included.
import * as path from 'node:path';
import { app, BrowserWindow, dialog } from 'electron';
import { isSupported, restoreLeftovers, startSidecar } from 'velmora-sidecar';
import type { Sidecar } from 'velmora-sidecar';

// At the app's start: leftovers first, where the lock can run at all.
export const canClean = isSupported();
void app.whenReady().then(async () => {
  if (canClean) await restoreLeftovers().catch((err) => console.warn(err.code, err.message));
});

// A lock whose quit-time stop shows a small window, and says so when it had to kill.
export async function startLock(): Promise<Sidecar> {
  let restoring: BrowserWindow | undefined;
  return startSidecar({
    app,
    quitTimeoutMs: 15000,
    onStopping: () => {
      restoring = new BrowserWindow({ width: 320, height: 120, frame: false, alwaysOnTop: true });
      void restoring.loadURL('data:text/html,<p>Restoring your keyboard…</p>');
    },
    onStopped: async (result) => {
      restoring?.destroy();
      if (result.outcome === 'killed') {
        await dialog.showMessageBox({ type: 'warning', message: 'Settings are put back in the background.' });
      }
    },
  });
}

// A path chosen by the app, or left to the default places.
export function withOwnCopy(folder: string | undefined): Promise<Sidecar> {
  return startSidecar({ app, path: folder === undefined ? undefined : path.join(folder, 'velmora-sidecar.exe') });
}
