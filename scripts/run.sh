#!/usr/bin/env bash
# Opens the desktop program, with the profile or batch file given after the build folder.
set -euo pipefail
build=${1:-build}
if [ ! -x "$build/src/kelvane" ]; then
  echo "The desktop program is not built; run make build first (kelvane-cli is at $build/src/kelvane-cli)." >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display to open the window on: set DISPLAY, or run it under xvfb-run." >&2
  exit 1
fi
exec "$build/src/kelvane" "${@:2}"
