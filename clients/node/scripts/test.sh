#!/usr/bin/env bash
# Tests the Node client: against fake sidecars, the type check of an example against
# index.d.ts, the packed tarball installed into an empty project, and the real executable
# under Wine on a display of its own.
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

echo "== fake sidecars"
timeout 120 node --test test/client.test.js test/electron.test.js

echo "== type check"
timeout 120 tsc -p test/types/tsconfig.json --noEmit --strict
echo "ok"

echo "== packed tarball"
# npm comes with Node from some sources and as a package of its own from others.
if command -v npm >/dev/null; then
  tarball=$(scripts/pack.sh "$exe" "$work")
  tar -tzf "$tarball" | grep -x 'package/bin/velmora-sidecar.exe'
  mkdir "$work/app"
  (cd "$work/app" && echo '{"name":"app","version":"1.0.0","private":true}' >package.json &&
    timeout 120 npm install --offline --no-audit --no-fund --silent "$tarball" &&
    node -e 'const p = require("velmora-sidecar").resolveSidecarPath(); require("fs").statSync(p); console.log("ok", p)')
else
  echo "skipped: no npm"
fi

echo "== real sidecar under Wine"
unset DISPLAY # always a display of our own: the typed keys must reach only our Wine desktop
velmora_start_display
velmora_prepare_prefix "${VELMORA_WINEPREFIX:-}"
VELMORA_SIDECAR_EXE=$exe timeout 240 node --test test/wine.test.js
