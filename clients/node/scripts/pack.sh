#!/usr/bin/env bash
# Packs the client with the built executable inside, so installing the tarball is all an
# app needs. Prints the tarball's path. Publishes nothing, and leaves the source tree as it
# was: the package is put together in a folder of its own. Works from any folder.
# Usage: clients/node/scripts/pack.sh [path/to/velmora-sidecar.exe] [destination folder]
set -euo pipefail
client=$(cd "$(dirname "$0")/.." && pwd)
root=$(cd "$client/../.." && pwd)
given=${1:-$root/build/windows/velmora-sidecar.exe}
exe=$(realpath -e -- "$given" 2>/dev/null) || { echo "no sidecar at $given; build it first" >&2; exit 1; }
destination=${2:-$root/build/node}
mkdir -p "$destination"
destination=$(cd "$destination" && pwd)

# In the repository the package's version follows the executable's, from CMake's project().
if [ -f "$root/CMakeLists.txt" ]; then
  version=$(sed -n 's/^project(velmora_sidecar VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
  package_version=$(node -p 'require(process.argv[1]).version' "$client/package.json")
  [ "$version" = "$package_version" ] || {
    echo "package.json has version $package_version, the sidecar $version" >&2
    exit 1
  }
fi

staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
cp -R "$client/package.json" "$client/index.js" "$client/index.d.ts" "$client/README.md" "$client/lib" \
  "$client/scripts" "$staging/"
mkdir "$staging/bin"
cp "$exe" "$staging/bin/velmora-sidecar.exe"
name=$(cd "$staging" && npm pack --silent --pack-destination "$destination" | tail -n 1)
echo "$destination/$name"
