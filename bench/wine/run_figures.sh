#!/usr/bin/env bash
# Builds the sidecar and the two baseline programs, then prints the Wine figures (key latency,
# start-up, stop, size), each as a ratio against its baseline. Figures only, nothing asserted.
# Uses its own Xvfb display and the shared Wine prefix; ends only what it started.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
out=$root/build/bench-wine
mkdir -p "$out"

cmake --preset windows >/dev/null
cmake --build --preset windows --target velmora-sidecar hook_floor minimal_gui >/dev/null
win=$root/build/windows
g++ -std=c++20 -O2 -Wall -Wextra bench/wine/xtest_press.cc -lXtst -lX11 -o "$out/xtest_press"

. scripts/wine-session.sh
trap velmora_stop_session EXIT
unset DISPLAY # our own display: the bench's key presses must reach only our Wine desktop
velmora_start_display
velmora_prepare_prefix

timeout 900 python3 bench/wine/figures.py --sidecar "$root/build/windows/velmora-sidecar.exe" \
  --floor "$win/hook_floor.exe" --minimal "$win/minimal_gui.exe" --presser "$out/xtest_press" "$@"
