#!/usr/bin/env bash
# Opens the desktop program once it exists.
set -euo pipefail
build=${1:-build}
if [ -x "$build/src/kelvane" ]; then
  exec "$build/src/kelvane" "${@:2}"
fi
echo "The desktop program kelvane is not built yet; kelvane-cli is at $build/src/kelvane-cli."
