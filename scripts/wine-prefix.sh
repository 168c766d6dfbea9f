#!/usr/bin/env bash
# Prepares the shared Wine prefix (or the one given) once; the tests call it as a fixture.
set -euo pipefail
. "$(dirname "$0")/wine-session.sh"
velmora_prepare_prefix "${1:-}"
