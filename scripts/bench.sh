#!/usr/bin/env bash
# Builds and runs the benchmarks and prints their figures. Nothing here is asserted: the
# figures are for reading, each beside a baseline measured in the same run.
# Each section below is self-contained; add new ones (e.g. Wine figures) at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

results=build/bench/results
mkdir -p "$results"

echo "== machine: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores, $(uname -sr)"

# --- Native figures: keyboard filter, event pump, stdin path --------------------------
native_figures() {
  cmake --preset bench >/dev/null
  cmake --build --preset bench --target sidecar_bench -j2
  echo "== native benchmarks (Release, no sanitizer)"
  timeout --kill-after=10 600 build/bench/sidecar_bench --benchmark_min_time=0.5 \
    --benchmark_out="$results/native.json" --benchmark_out_format=json
  python3 - "$results/native.json" <<'PY'
import json, sys

runs = {b["name"]: b for b in json.load(open(sys.argv[1]))["benchmarks"]}

def find(prefix):
    return next(b for name, b in runs.items() if name.startswith(prefix))

def ns_per_item(prefix):
    return 1e9 / find(prefix)["items_per_second"]

allocations = sum(find(p).get("allocations", 0) for p in
                  ("BM_keyboard_filter_send", "BM_keyboard_filter_wake_consumer", "BM_keyboard_filter_queue_full"))
pump = find("BM_key_event_pump")["items_per_second"]
plain = find("BM_plain_write_loop")["items_per_second"]
print("== native figures")
print(f"keyboard filter, send into a queue with room:     {ns_per_item('BM_keyboard_filter_send'):9.1f} ns/call")
print(f"keyboard filter, send waking the waiting consumer: {ns_per_item('BM_keyboard_filter_wake_consumer'):9.1f} ns/call")
print(f"keyboard filter, queue full (drop path):           {ns_per_item('BM_keyboard_filter_queue_full'):9.1f} ns/call")
print(f"allocations on the keyboard filter path:           {allocations:9.0f}")
print(f"event pump into a pipe:                            {pump:9.0f} lines/s")
print(f"plain write-per-line loop, same lines (the limit): {plain:9.0f} lines/s")
print(f"ratio pump / plain write:                          {pump / plain:9.2f}")
print(f"is_stop_command on {{\"cmd\":\"stop\"}}:                {ns_per_item('BM_is_stop_command/stop'):9.1f} ns/line")
print(f"line reader over 1 MiB of mixed lines:             {find('BM_line_reader')['bytes_per_second'] / 2**20:9.0f} MiB/s")
PY
}
native_figures

# --- Wine figures: key latency, start-up and stop, executable size ----------------------
wine_figures() {
  echo "== Wine figures"
  bench/wine/run_figures.sh
}
wine_figures

# --- Executable size: stripped, against its 320 KiB budget, and where the bytes go ------
size_figures() {
  echo "== executable size"
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target velmora-sidecar >/dev/null
  python3 bench/size_breakdown.py build/windows/velmora-sidecar.exe build/windows/velmora-sidecar.map
}
size_figures
