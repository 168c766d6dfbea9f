#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. native unit tests of the portable logic under ASan and UBSan;
#   2. the concurrency tests again under TSan;
#   3. the Windows build: unit tests and the end-to-end bench, both under Wine;
#   4. a short fuzzing run over the standard-input path.
# Installs what is missing first. Ends with one line counting every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

log=$(mktemp)
trap 'rm -f "$log"' EXIT
passed=0
failed=0

# Adds a ctest run's counts to the totals; "x% tests passed, N tests failed out of M".
count_ctest() {
  local line total fails
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1) || true
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    return
  fi
  fails=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((passed + total - fails))
  failed=$((failed + fails))
}

# $1: preset; further arguments go to ctest.
run_layer() {
  local preset=$1
  shift
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j 2
  ctest --test-dir "build/$preset" --output-on-failure --timeout 600 "$@" 2>&1 | tee "$log" || true
  count_ctest
}

run_layer native
run_layer native-tsan -L tsan
run_layer windows

if [ -x scripts/fuzz.sh ]; then
  echo "== fuzz smoke"
  if scripts/fuzz.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
fi

echo
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
