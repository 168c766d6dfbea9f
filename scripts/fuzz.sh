#!/usr/bin/env bash
# Fuzzes, with libFuzzer under ASan and UBSan, the standard-input path (read, split, UTF-8
# check, parse, stop) and the decoders of the journal and of the watcher's pipe.
#   scripts/fuzz.sh            smoke run: replay each seed corpus, then 10 s of fuzzing each
#   scripts/fuzz.sh SECONDS    fuzz each that long, keeping what it finds in build/fuzz/<name>-corpus
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
mkdir -p "$build/artifacts"

# Each target: its name, seed corpus, the largest input it is given, and its dictionary.
# stdin: 16 KiB inputs reach past the 4 KiB line bound some runs use. record: the journal's
# and the watcher pipe's decoders, whose records are some hundred bytes.
targets=(
  "stdin fuzz/corpus 16384 -dict=fuzz/stdin.dict"
  "record fuzz/record_corpus 4096"
)

# No single allocation may exceed 16 MiB: the reader holds at most one line and one read
# buffer, and a record is a few hundred bytes.
common_flags=(
  -rss_limit_mb=1024
  -malloc_limit_mb=16
  -timeout=5
  -artifact_prefix="$build/artifacts/"
  -print_final_stats=1
)

run() {
  local fuzzer=$1 log=$2
  shift 2
  # The outer time-out only guards against libFuzzer itself hanging.
  if ! timeout --kill-after=10 $((${seconds:-10} + 120)) "$fuzzer" "${common_flags[@]}" "$@" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "fuzz: FAILED (log: $log; reproduce with $fuzzer <artifact>)" >&2
    exit 1
  fi
}

runs() { awk '/stat::number_of_executed_units/ {print $2}' "$1"; }

for target in "${targets[@]}"; do
  read -r name corpus max_len dict <<<"$target"
  fuzzer="$build/${name}_fuzzer"
  flags=(-max_len="$max_len")
  [ -n "${dict:-}" ] && flags+=("$dict")
  echo "== $name: replaying the seed corpus"
  run "$fuzzer" "$build/$name-replay.log" "${flags[@]}" -runs=0 "$corpus"
  echo "   $(ls "$corpus" | wc -l) seeds, no finding"
  if [ -z "$seconds" ]; then
    echo "== $name: fuzzing for 10 s (smoke)"
    scratch=$(mktemp -d)
    run "$fuzzer" "$build/$name-fuzz.log" "${flags[@]}" -max_total_time=10 "$scratch" "$corpus"
    rm -rf "$scratch"
    total=10
  else
    echo "== $name: fuzzing for $seconds s, corpus kept in $build/$name-corpus"
    mkdir -p "$build/$name-corpus"
    run "$fuzzer" "$build/$name-fuzz.log" "${flags[@]}" -max_total_time="$seconds" "$build/$name-corpus" "$corpus"
    total=$seconds
  fi
  echo "fuzz: $name OK, $(runs "$build/$name-fuzz.log") inputs in ${total} s, no crash, no sanitizer report, no time-out"
done
