#!/usr/bin/env bash
# Fuzzes the standard-input path (read, split, UTF-8 check, parse, stop) with libFuzzer
# under ASan and UBSan.
#   scripts/fuzz.sh            smoke run: replay the seed corpus, then 10 s of fuzzing
#   scripts/fuzz.sh SECONDS    fuzz that long, keeping what it finds in build/fuzz/corpus
# Exits non-zero on any crash, sanitizer report, time-out (a slow, e.g. quadratic, input)
# or memory over the limits.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

seconds=${1:-}
if [ -n "$seconds" ] && ! [[ "$seconds" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 [seconds]" >&2
  exit 2
fi

build=build/fuzz
compiler=$(command -v clang++-14 || command -v clang++)
if [ ! -f "$build/build.ninja" ]; then
  CXX="$compiler" cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2
fuzzer="$build/stdin_fuzzer"
mkdir -p "$build/artifacts"

# 16 KiB inputs reach past the 4 KiB line bound some runs use. No single allocation may
# exceed 16 MiB: the reader holds at most one line and one read buffer.
flags=(
  -dict=fuzz/stdin.dict
  -max_len=16384
  -rss_limit_mb=1024
  -malloc_limit_mb=16
  -timeout=5
  -artifact_prefix="$build/artifacts/"
  -print_final_stats=1
)

run() {
  local log=$1
  shift
  # The outer time-out only guards against libFuzzer itself hanging.
  if ! timeout --kill-after=10 $((${seconds:-10} + 120)) "$fuzzer" "${flags[@]}" "$@" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "fuzz: FAILED (log: $log; reproduce with $fuzzer <artifact>)" >&2
    exit 1
  fi
}

runs() { awk '/stat::number_of_executed_units/ {print $2}' "$1"; }

echo "== replaying the seed corpus"
run "$build/replay.log" -runs=0 fuzz/corpus
echo "   $(ls fuzz/corpus | wc -l) seeds, no finding"

if [ -z "$seconds" ]; then
  echo "== fuzzing for 10 s (smoke)"
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  run "$build/fuzz.log" -max_total_time=10 "$scratch" fuzz/corpus
  total=10
else
  echo "== fuzzing for $seconds s, corpus kept in $build/corpus"
  mkdir -p "$build/corpus"
  run "$build/fuzz.log" -max_total_time="$seconds" "$build/corpus" fuzz/corpus
  total=$seconds
fi
echo "fuzz: OK, $(runs "$build/fuzz.log") inputs in ${total} s, no crash, no sanitizer report, no time-out"
