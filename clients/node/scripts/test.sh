#!/usr/bin/env bash
# Tests the Node client: npm test (fake sidecars, path resolution with an ES module bundle,
# packing, and the type check of examples and recipes against index.d.ts under nodenext and
# commonjs), the packed tarball installed into an empty project and loaded from CommonJS and
# ESM, and the real executable under Wine on a display of its own.
# Usage: clients/node/scripts/test.sh [path/to/velmora-sidecar.exe]
set -euo pipefail
cd "$(dirname "$0")/.."
client=$PWD
root=$(cd ../.. && pwd)
exe=$(realpath "${1:-$root/build/windows/velmora-sidecar.exe}")
[ -f "$exe" ] || { echo "no sidecar at $exe; build it first" >&2; exit 1; }

work=$(mktemp -d)
. "$root/scripts/wine-session.sh"
cleanup() {
  velmora_stop_session
  rm -rf "$work"
}
trap cleanup EXIT

# npm comes with Node from some sources and as a package of its own from others. It installs
# the development dependencies (esbuild, TypeScript, Node's types) from the lock file whenever
# they are missing or differ from it; none needs its install script.
if command -v npm >/dev/null; then
  npm ls --depth=0 >/dev/null 2>&1 || timeout 300 npm ci --ignore-scripts --no-audit --no-fund --silent
  echo "== npm test"
  timeout 300 npm test
else
  echo "== tests (no npm: the same files as npm test; no bundle or type check without the development dependencies)"
  read -r -a files < <(node -p 'require("./package.json").scripts.test.split(" && ")[0].replace(/^node --test /, "")')
  timeout 300 node --test "${files[@]}"
fi

echo "== packed tarball"
if command -v npm >/dev/null; then
  tarball=$(scripts/pack.sh "$exe" "$work")
  tar -tzf "$tarball" | grep -x -e 'package/bin/velmora-sidecar.exe' -e 'package/README.md'
  mkdir "$work/app"
  (cd "$work/app" && echo '{"name":"app","version":"1.0.0","private":true}' >package.json &&
    timeout 120 npm install --offline --no-audit --no-fund --silent "$tarball" &&
    node -e 'const p = require("velmora-sidecar").resolveSidecarPath(); require("fs").statSync(p); console.log("ok", p)' &&
    node --input-type=module -e 'import { startSidecar, restoreLeftovers } from "velmora-sidecar"; console.log("esm", typeof startSidecar, typeof restoreLeftovers)')
else
  echo "skipped: no npm"
fi

echo "== real sidecar under Wine"
unset DISPLAY # always a display of our own: the typed keys must reach only our Wine desktop
velmora_start_display
velmora_prepare_prefix "${VELMORA_WINEPREFIX:-}"
VELMORA_SIDECAR_EXE=$exe timeout 240 node --test test/wine.test.js
