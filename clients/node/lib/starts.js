'use strict';

// Each start promise, mapped to a promise of its sidecar that settles at spawn (null when the
// start failed before), so a binding made from the start promise can stop it before ready.
const known = new WeakMap();

function register(startPromise, sidecarKnown) {
  known.set(startPromise, sidecarKnown);
}

// A Sidecar itself, a promise from startSidecar(), or any other promise of a sidecar (then
// known only once it settles).
function sidecarOf(target) {
  if (target && typeof target.stop === 'function' && target.exited) return Promise.resolve(target);
  if (known.has(target)) return known.get(target);
  return Promise.resolve(target).catch(() => null);
}

module.exports = { register, sidecarOf };
