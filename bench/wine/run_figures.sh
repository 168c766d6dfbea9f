#!/usr/bin/env bash
# Builds the sidecar and the two baseline programs, then prints the Wine figures (key latency,
# start-up, stop, size), each as a ratio against its baseline. Figures only, nothing asserted.
# Uses its own Xvfb display and Wine prefix (build/wine-bench); ends only what it started.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
out=$root/build/bench-wine
mkdir -p "$out"

cmake --preset windows >/dev/null
cmake --build --preset windows --target velmora-sidecar -j 2 >/dev/null
# Built like the sidecar: optimised, static, GUI subsystem.
cross=(x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -Wall -Wextra -static -mwindows)
"${cross[@]}" bench/wine/hook_floor.cc -o "$out/hook_floor.exe"
"${cross[@]}" bench/wine/minimal_gui.cc -o "$out/minimal_gui.exe"
g++ -std=c++20 -O2 -Wall -Wextra bench/wine/xtest_press.cc -lXtst -lX11 -o "$out/xtest_press"

. scripts/wine-session.sh
trap velmora_stop_session EXIT
unset DISPLAY # our own display: the bench's key presses must reach only our Wine desktop
velmora_start_display
velmora_prepare_prefix "$root/build/wine-bench"

timeout 900 python3 bench/wine/figures.py --sidecar "$root/build/windows/velmora-sidecar.exe" \
  --floor "$out/hook_floor.exe" --minimal "$out/minimal_gui.exe" --presser "$out/xtest_press" "$@"
