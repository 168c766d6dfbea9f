#!/usr/bin/env bash
# Runs a Windows program under Wine on a display (a virtual one when none is set), in the
# prefix given by WINEPREFIX: the Windows unit tests that make windows need one. Ends only
# what it started: its Xvfb, and the Wine server of that prefix.
set -uo pipefail
. "$(dirname "$0")/wine-session.sh"
velmora_start_display || exit 1
# A server still running on the prefix may be bound to another display, or none.
wineserver -k >/dev/null 2>&1 || true
wine "$@"
status=$?
velmora_stop_session
exit "$status"
