#!/usr/bin/env bash
# Starts Sonotape under Wine. On a desktop it uses the user's display and sound
# server; without them it starts a private virtual display and sound server.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
export SONOTAPE_BED_REUSE=1
exec bash "$here/bed.sh" "$build" -- bash -c '
  echo "Sonotape runs on display $DISPLAY (close its window or press Ctrl+C to end)."
  cd "'"$build"'/bin" && wine sonotape.exe'
