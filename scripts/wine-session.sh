# Sourced by the scripts that run the sidecar under Wine: a virtual display when none is
# set, and a private Wine prefix with a virtual desktop. Ends only what it started.

velmora_started_xvfb=""

velmora_start_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local number
  for number in $(seq 90 130); do
    [ -e "/tmp/.X${number}-lock" ] || [ -e "/tmp/.X11-unix/X${number}" ] && continue
    Xvfb ":${number}" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    velmora_started_xvfb=$!
    export DISPLAY=":${number}"
    for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
    kill "$velmora_started_xvfb" 2>/dev/null || true
    velmora_started_xvfb=""
  done
  echo "could not start Xvfb" >&2
  return 1
}

# The one Wine prefix of a checkout, shared by the live run, the tests and the figures.
velmora_default_prefix="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/windows/wine-prefix"

# $1: prefix folder (default: the shared one). Creates it once; the virtual desktop keeps the
# sidecar's cursor clip, shield and hooks inside one X window, and the audio driver is off so
# ALSA stays quiet. Safe to call from several processes at once.
velmora_prepare_prefix() {
  export WINEPREFIX="${1:-$velmora_default_prefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.velmora-ready" ]; then
      # No pipes to wait on: Wine services started here would inherit and hold them.
      wineboot -i </dev/null >/dev/null 2>&1
      wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
      wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f </dev/null >/dev/null 2>&1
      wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d "" /f </dev/null >/dev/null 2>&1
      wineserver -w
      touch "$WINEPREFIX/.velmora-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}

velmora_stop_session() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1 || true
  if [ -n "$velmora_started_xvfb" ]; then
    kill "$velmora_started_xvfb" 2>/dev/null || true
    wait "$velmora_started_xvfb" 2>/dev/null || true
  fi
}
