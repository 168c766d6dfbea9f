#!/usr/bin/env bash
# Builds the sidecar and runs it in a live session under Wine: a few keys are typed on the
# virtual desktop, the event stream is shown, and the sidecar is stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target velmora-sidecar
exe="$PWD/build/windows/velmora-sidecar.exe"

. scripts/wine-session.sh
trap velmora_stop_session EXIT
velmora_start_display
velmora_prepare_prefix

work=$(mktemp -d)
mkfifo "$work/stdin"
echo "== sidecar starts (VELMORA_DIAG=${VELMORA_DIAG:-unset}); its standard output follows"
wine "$exe" <"$work/stdin" &
sidecar=$!
exec 3>"$work/stdin"

desktop=""
for _ in $(seq 1 50); do
  desktop=$(xdotool search --name "Wine desktop" 2>/dev/null | head -n 1) && [ -n "$desktop" ] && break
  sleep 0.2
done
sleep 1
if [ -n "$desktop" ]; then
  xdotool windowfocus "$desktop" 2>/dev/null || true
  for key in h i Return alt+x; do xdotool key "$key"; sleep 0.2; done
  xdotool click 1
fi
sleep 1
echo '{"cmd":"stop"}' >&3
exec 3>&-
wait "$sidecar" && status=0 || status=$?
rm -rf "$work"
echo "== sidecar exited with status $status"
exit "$status"
