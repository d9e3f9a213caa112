#!/usr/bin/env bash
# The test bed: runs a command with a private X display, a private PulseAudio
# server (a null sink whose monitor is the default source) and one persistent
# wineserver on a Wine prefix kept under the build folder.
#
#   tools/bed.sh BUILD_DIR -- command [args...]
#
# The build folder's target (BUILD_DIR/target-arch, x64 or x86) chooses Wine's
# loader and the prefix's kind; inside the bed `wine` on PATH is that loader.
# The Wine prefix is BUILD_DIR/wineprefix-wineN (N: Wine's major version), or
# SONOTAPE_WINEPREFIX when set
# (make run keeps the user's own settings apart from what the tests write).
#
# A test that makes a Wine prefix of its own lists it in
# $SONOTAPE_BED_DIR/prefixes; its wineserver is ended with the bed's.
#
# Starts only what it needs: an existing DISPLAY or sound server is reused when
# SONOTAPE_BED_REUSE=1 (make run on a desktop). Everything it started is stopped
# on exit, also when the command fails or the script is interrupted.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build dir}" && pwd); shift
[ "${1:-}" = "--" ] && shift

run=$(mktemp -d "${TMPDIR:-/tmp}/sonotape-bed.XXXXXX")
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
arch=$(cat "$build/target-arch" 2>/dev/null || echo x86)
case "$arch" in
  x64) export WINEARCH=win64 ;;
  *) export WINEARCH=win32 ;;
esac
export WINELOADER=$(bash "$(dirname "$0")/wine-loader.sh" path "$arch")
# One prefix per major version of Wine: a prefix that a newer Wine has
# updated is not for an older one (the machine's own Wine and the Debian 13
# root's can take turns on one build folder).
wine_major=$("$WINELOADER" --version 2>/dev/null | sed -E 's/^wine-([0-9]+).*/\1/')
export WINEPREFIX="${SONOTAPE_WINEPREFIX:-$build/wineprefix-wine${wine_major:-unknown}}"
mkdir -p "$run/bin"
printf '#!/bin/sh\nexec "%s" "$@"\n' "$WINELOADER" > "$run/bin/wine"
chmod +x "$run/bin/wine"
export PATH="$run/bin:$PATH"

pids=()
own_sound=0
cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  wineserver -k >/dev/null 2>&1
  # Prefixes of their own that tests made (and may have left running when stopped).
  if [ -f "$run/prefixes" ]; then
    while read -r p; do WINEPREFIX="$p" wineserver -k >/dev/null 2>&1; done < "$run/prefixes"
  fi
  # wineserver -k returns before every Wine process is gone; wait a moment.
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    pgrep -f "$WINEPREFIX" >/dev/null 2>&1 || break; sleep 0.2
  done
  [ "$own_sound" = 1 ] && bash "$here/bed-sound.sh" stop "$run"
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$run"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

reuse=${SONOTAPE_BED_REUSE:-0}

# --- X display ---------------------------------------------------------------
own_display=0
if [ "$reuse" = 1 ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  :
else
  own_display=1
  exec 3> "$run/displayfd"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -auth /dev/null >"$run/xvfb.log" 2>&1 &
  pids+=($!)
  exec 3>&-
  for _ in $(seq 1 100); do [ -s "$run/displayfd" ] && break; sleep 0.05; done
  [ -s "$run/displayfd" ] || { echo "bed: Xvfb did not start" >&2; cat "$run/xvfb.log" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$run/displayfd")"
fi

# --- sound server --------------------------------------------------------------
if [ "$reuse" = 1 ] && pactl info >/dev/null 2>&1; then
  :
else
  export XDG_RUNTIME_DIR="$run/pulse" PULSE_RUNTIME_PATH="$run/pulse" PULSE_STATE_PATH="$run/pulse"
  export PULSE_SERVER="unix:$run/pulse/native"
  own_sound=1
  bash "$here/bed-sound.sh" start "$run" || exit 1
fi

# --- Wine ----------------------------------------------------------------------
. "$(dirname "$0")/wine-prefix.sh"
prepare_wine_prefix "$build" "$own_display"
export SONOTAPE_BED_DIR="$run"
# The sound server's switch for tests (bed-sound.sh), when the bed runs its own.
[ "$own_sound" = 1 ] && export SONOTAPE_BED_SOUND="$here/bed-sound.sh"
export SONOTAPE_OWN_DISPLAY="$own_display"

"$@"
