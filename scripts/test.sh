#!/usr/bin/env bash
# Builds everything and runs every test, one CMake workflow per layer:
#   native       unit tests of the portable logic under ASan and UBSan;
#   native-tsan  the concurrency tests under TSan;
#   windows      the Windows build: unit tests and the end-to-end bench, both under Wine;
#   node-client  the Node package in clients/node, against fakes and the windows layer's
#                executable under Wine (its own script, not a CMake workflow);
# then a short fuzzing run over the standard-input path. Installs what is missing first.
# Every layer runs even when one fails; the last line counts the layers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

passed=0
failed=()
run() {
  local name=$1
  shift
  echo "== $name"
  if "$@"; then passed=$((passed + 1)); else failed+=("$name"); fi
}

for preset in native native-tsan windows; do
  run "$preset" cmake --workflow --preset "$preset"
done
run node-client clients/node/scripts/test.sh
run fuzz scripts/fuzz.sh

echo
[ ${#failed[@]} -eq 0 ] || echo "failed: ${failed[*]}"
echo "layers: $passed passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
