// Compiled with `tsc --noEmit --strict` against index.d.ts: how an app uses the package,
// and a few mistakes the declarations must reject.
import { bindElectronApp, resolveSidecarPath, restoreLeftovers, startSidecar, SidecarError } from 'velmora-sidecar';
import type { ExitResult, KeyEvent, Sidecar, StopOutcome } from 'velmora-sidecar';

// The few members of Electron's app that the package uses, as Electron declares them: one
// overload per event.
interface ElectronEvent { preventDefault(): void; readonly defaultPrevented: boolean }
declare const app: {
  on(event: 'before-quit', listener: (event: ElectronEvent) => void): typeof app;
  on(event: 'will-quit', listener: (event: ElectronEvent) => void): typeof app;
  on(event: 'window-all-closed', listener: () => void): typeof app;
  removeListener(event: 'before-quit', listener: (event: ElectronEvent) => void): typeof app;
  removeListener(event: 'will-quit', listener: (event: ElectronEvent) => void): typeof app;
  removeListener(event: 'window-all-closed', listener: () => void): typeof app;
  quit(): void;
};

function tellUser(outcome: StopOutcome): string {
  switch (outcome) {
    case 'restored': return 'all settings are back';
    case 'exited': return 'the lock ended by itself';
    case 'killed': return 'settings are being restored by the watcher';
  }
}

async function lock(): Promise<ExitResult | null> {
  const controller = new AbortController();
  let sidecar: Sidecar;
  try {
    sidecar = await startSidecar({
      path: resolveSidecarPath(),
      readyTimeoutMs: 20000,
      stopTimeoutMs: 10000,
      diagnostic: false,
      env: { VELMORA_DIAG: undefined },
      signal: controller.signal,
      onSpawn: (running) => console.log(running.pid),
    });
  } catch (err) {
    if (err instanceof SidecarError && err.code === 'ALREADY_RUNNING') return null;
    if (err instanceof SidecarError && err.code === 'UNSUPPORTED_PLATFORM') return null;
    if (err instanceof SidecarError && err.code === 'ABORTED') console.log(err.cause, err.exitCode);
    if (err instanceof SidecarError && err.exit) console.log(err.exit.outcome, err.stderr.join('\n'));
    throw err;
  }
  const unbind = bindElectronApp(app, sidecar);
  sidecar.on('key', (key: KeyEvent) => console.log(key.vk, key.down ? 'down' : 'up'));
  sidecar.on('session-lock', () => console.log('locked'));
  sidecar.on('stderr', (line) => console.log(line.trim()));
  sidecar.on('warning', (warning) => console.log(warning.type, warning.message, warning.line ?? ''));
  sidecar.once('exit', (result) => console.log(tellUser(result.outcome), result.code ?? result.signal));
  sidecar.prependListener('key', (key) => console.log(key.vk)).setMaxListeners(20);
  const result = await sidecar.stop({ timeoutMs: 5000 });
  unbind();
  return sidecar.state === 'exited' ? result : null;
}

async function mistakes(sidecar: Sidecar): Promise<void> {
  // @ts-expect-error vk is a number
  sidecar.on('key', (key) => key.vk.toUpperCase());
  // @ts-expect-error no such event
  sidecar.on('bye', () => {});
  // @ts-expect-error the exit result is not a string
  sidecar.on('exit', (result: string) => result);
  // @ts-expect-error timeouts are milliseconds
  await startSidecar({ readyTimeoutMs: '20s' });
  // @ts-expect-error stop never rejects with an outcome of its own
  const outcome: 'failed' = (await sidecar.stop()).outcome;
  // @ts-expect-error no such quit event
  bindElectronApp(app, sidecar, { stopOn: 'quit' });
  // @ts-expect-error timeouts are milliseconds
  bindElectronApp(app, sidecar, { quitTimeoutMs: '5s' });
  // @ts-expect-error state is read-only
  sidecar.state = 'ready';
  void outcome;
}

// Bound from the start: a quit during start-up is held too.
async function boundEarly(): Promise<void> {
  await restoreLeftovers({ timeoutMs: 30000, signal: AbortSignal.timeout(60000) });
  const started = startSidecar({ app, stopOn: 'will-quit' });
  bindElectronApp(app, started, { stopOn: 'before-quit' });
  await started;
}

void lock;
void boundEarly;
void mistakes;
