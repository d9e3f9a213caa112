#!/usr/bin/env bash
# A Wine prefix made fresh for a test and removed after it: a Windows on which
# Sonotape has never been. Runs inside the bed (tools/bed.sh), whose display
# and sound server it uses; the bed ends the prefix's wineserver with its own.
#
#   tests/installer/fresh_prefix.sh make   BUILD_DIR
#   tests/installer/fresh_prefix.sh run    BUILD_DIR PROGRAM.exe [arguments...]
#   tests/installer/fresh_prefix.sh remove BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
action=${1:?make, run or remove}
build=$(cd "${2:?build dir}" && pwd)
shift 2
: "${SONOTAPE_BED_DIR:?run inside tools/bed.sh}"
export WINEPREFIX="$build/fresh-prefix"

remove() {
  wineserver -k >/dev/null 2>&1
  for _ in $(seq 1 25); do pgrep -f "$WINEPREFIX" >/dev/null 2>&1 || break; sleep 0.2; done
  rm -rf "$WINEPREFIX"
}

case "$action" in
  make)
    remove
    echo "$WINEPREFIX" >> "$SONOTAPE_BED_DIR/prefixes"
    started=$(date +%s%N)
    . "$here/../../tools/wine-prefix.sh"
    # Its wineserver lives on after this step: it must not hold the test's output open.
    prepare_wine_prefix "$build" "${SONOTAPE_OWN_DISPLAY:-1}" >"$build/fresh-prefix.log" 2>&1 </dev/null
    [ -f "$WINEPREFIX/system.reg" ] || { echo "the fresh Wine prefix was not made" >&2; exit 1; }
    echo "fresh Wine prefix made in $((($(date +%s%N) - started) / 1000000)) ms"
    ;;
  run)
    [ -f "$WINEPREFIX/system.reg" ] || { echo "no fresh Wine prefix: make it first" >&2; exit 1; }
    cd "$build/bin" && exec wine "$@"
    ;;
  remove) remove ;;
  *) echo "fresh_prefix.sh: make, run or remove" >&2; exit 2 ;;
esac
