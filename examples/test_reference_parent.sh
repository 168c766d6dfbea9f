#!/usr/bin/env bash
# Runs the reference parent against the real sidecar under Wine (keys typed with XTest must
# come back as key lines, then bye and status 0), and against fake sidecars that never say
# ready, die early, find another sidecar running, vanish without bye, ignore stop or write
# garbage.
# Usage: examples/test_reference_parent.sh [path/to/velmora-sidecar.exe]
# Uses its own Xvfb display and the shared Wine prefix; ends only what it started.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
exe=$(realpath "${1:-build/windows/velmora-sidecar.exe}")
parent=(node "$root/examples/reference-parent.js")
fake=(node "$root/examples/fake-sidecar.js")
[ -f "$exe" ] || { echo "no sidecar at $exe; build it first" >&2; exit 1; }

work=$(mktemp -d)
failures=0
. scripts/wine-session.sh
cleanup() {
  velmora_stop_session
  rm -rf "$work"
}
trap cleanup EXIT

check() { # $1: description, $2...: command that must succeed
  local what=$1
  shift
  if "$@"; then
    echo "ok   $what"
  else
    echo "FAIL $what"
    failures=$((failures + 1))
  fi
}
has() { grep -qF -- "$2" "$1"; }
gone() { ! kill -0 "$(cat "$1")" 2>/dev/null; }

# $1: name; the rest: parent arguments. Leaves $work/$1.out, $work/$1.err, $work/$1.status.
run_parent() {
  local name=$1
  shift
  local status=0
  timeout 60 "${parent[@]}" "$@" >"$work/$name.out" 2>"$work/$name.err" || status=$?
  echo "$status" >"$work/$name.status"
}
status_is() { [ "$(cat "$work/$1.status")" = "$2" ]; }
show() { sed 's/^/    /' "$work/$1.out" "$work/$1.err"; }

echo "== fake sidecars"
run_parent silent --ready-timeout 2 --stop-timeout 1 -- "${fake[@]}" silent "$work/silent.pid"
check "never ready: exit 3" status_is silent 3
check "never ready: says so" has "$work/silent.err" "did not say ready within 2 s"
check "never ready: stop sent before the kill" has "$work/silent.out" "stopping (no ready)"
check "never ready: killed after the stop time-out" has "$work/silent.err" "did not exit within 1 s after stop"
check "never ready: child killed" gone "$work/silent.pid"

run_parent slow --ready-timeout 1 -- "${fake[@]}" slow
check "slow to ready: exit 3" status_is slow 3
check "slow to ready: stopped, not killed" has "$work/slow.err" "exited without saying ready (status 0)"

run_parent die --ready-timeout 10 -- "${fake[@]}" die
check "dies before ready: exit 1" status_is die 1
check "dies before ready: says so" has "$work/die.err" "exited before it said ready (status 3)"

run_parent busy --ready-timeout 10 -- "${fake[@]}" busy
check "another sidecar running: exit 5" status_is busy 5
check "another sidecar running: says so" has "$work/busy.err" "another sidecar is already running"

run_parent vanish --ready-timeout 10 -- "${fake[@]}" vanish
check "dies after ready: exit 1" status_is vanish 1
check "dies after ready: says so" has "$work/vanish.err" "without saying bye"

run_parent deaf --seconds 0.5 --stop-timeout 1 -- "${fake[@]}" deaf "$work/deaf.pid"
check "ignores stop: exit 4" status_is deaf 4
check "ignores stop: says so" has "$work/deaf.err" "did not exit within 1 s after stop"
check "ignores stop: child killed" gone "$work/deaf.pid"

run_parent chatty --seconds 0.5 -- "${fake[@]}" chatty
check "malformed lines: reported" has "$work/chatty.err" 'ignoring malformed line from sidecar: "not json at all"'
check "malformed lines: key still shown" has "$work/chatty.out" "key 65 down"
check "malformed lines: exit 0 after bye" status_is chatty 0

echo "== real sidecar under Wine"
unset DISPLAY # always a display of our own: the typed keys must reach only our Wine desktop
velmora_start_display
velmora_prepare_prefix "${VELMORA_WINEPREFIX:-}"

timeout 90 "${parent[@]}" --wine --sidecar "$exe" --seconds 3 --ready-timeout 40 \
  >"$work/wine.out" 2>"$work/wine.err" &
parent_pid=$!
for _ in $(seq 1 400); do
  has "$work/wine.out" "ready after" && break
  kill -0 "$parent_pid" 2>/dev/null || break
  sleep 0.1
done
desktop=$(timeout 5 xdotool search --name "Wine desktop" 2>/dev/null | head -n 1 || true)
if [ -n "$desktop" ]; then
  xdotool windowfocus --sync "$desktop" 2>/dev/null || xdotool windowfocus "$desktop" || true
  timeout 5 xdotool key a || true
  timeout 5 xdotool key b || true
fi
status=0
wait "$parent_pid" || status=$?
echo "$status" >"$work/wine.status"
check "wine: Wine desktop found" test -n "$desktop"
check "wine: ready" has "$work/wine.out" "ready after"
check "wine: A pressed" has "$work/wine.out" "key 65 down"
check "wine: A released" has "$work/wine.out" "key 65 up"
check "wine: B pressed" has "$work/wine.out" "key 66 down"
check "wine: bye" has "$work/wine.out" "bye"
check "wine: exit 0" status_is wine 0
check "wine: nothing malformed" test ! -s "$work/wine.err"

if [ "$failures" -ne 0 ]; then
  for name in silent slow die busy vanish deaf chatty wine; do echo "-- $name"; show "$name"; done
  echo "$failures check(s) failed"
  exit 1
fi
echo "all reference parent checks passed"
