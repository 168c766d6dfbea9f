// Node's own helpers over a Sidecar, as with any EventEmitter.
import { on, once } from 'node:events';
import { startSidecar } from 'velmora-sidecar';
import type { ExitResult, KeyEvent } from 'velmora-sidecar';

export async function keysUntilEscape(): Promise<ExitResult> {
  const sidecar = await startSidecar();
  const exit = once(sidecar, 'exit');
  for await (const [key] of on(sidecar, 'key')) {
    if ((key as KeyEvent).vk === 0x1b) break;
  }
  void sidecar.stop();
  const [result] = await exit;
  return result as ExitResult;
}
