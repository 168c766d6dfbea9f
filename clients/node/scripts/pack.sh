#!/usr/bin/env bash
# Packs the client with the built executable inside, so installing the tarball is all an
# app needs. Prints the tarball's path. Publishes nothing.
# Usage: clients/node/scripts/pack.sh [path/to/velmora-sidecar.exe] [destination folder]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(cd ../.. && pwd)
exe=${1:-$root/build/windows/velmora-sidecar.exe}
destination=${2:-$root/build/node}
[ -f "$exe" ] || { echo "no sidecar at $exe; build it first" >&2; exit 1; }

# The package's version follows the executable's, which comes from CMake's project().
version=$(sed -n 's/^project(velmora_sidecar VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
package_version=$(node -p 'require("./package.json").version')
[ "$version" = "$package_version" ] || {
  echo "package.json has version $package_version, the sidecar $version" >&2
  exit 1
}

mkdir -p bin "$destination"
cp "$exe" bin/velmora-sidecar.exe
name=$(npm pack --silent --pack-destination "$destination")
echo "$(cd "$destination" && pwd)/$name"
