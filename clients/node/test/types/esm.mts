// An ES module importing the CommonJS package by name.
import { once } from 'node:events';
import { restoreLeftovers, startSidecar, SidecarError } from 'velmora-sidecar';

try {
  await restoreLeftovers();
} catch (err) {
  if (!(err instanceof SidecarError) || err.code !== 'ALREADY_RUNNING') throw err;
}
const sidecar = await startSidecar({ signal: AbortSignal.timeout(60000) });
await once(sidecar, 'exit');
