#!/usr/bin/env bash
# Starts Sonotape under Wine. On a desktop it uses the user's display and
# sound server; without them it starts a private virtual display and a null
# sound sink, and says how to see and drive the program from here.
#
#   tools/run.sh [BUILD_DIR]
#
# The program gets a Wine prefix of its own (BUILD_DIR/run-prefix), so the
# settings a person makes are not touched by the tests. Recordings go to the
# folder chosen in the program (at first the prefix's Music folder), the log
# of recordings to BUILD_DIR/bin/log.txt.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build/x64}" && pwd)
export SONOTAPE_BED_REUSE=1
export SONOTAPE_WINEPREFIX="$build/run-prefix"
exec bash "$here/bed.sh" "$build" -- bash -c '
  build=$1
  env_file="$build/run-env"
  trap "rm -f \"$env_file\"" EXIT
  {
    for v in DISPLAY WINEPREFIX WINELOADER WINEDEBUG WINEARCH WINEDLLOVERRIDES PULSE_SERVER XDG_RUNTIME_DIR PULSE_RUNTIME_PATH; do
      [ -n "${!v:-}" ] && printf "export %s=%q\n" "$v" "${!v}"
    done
  } > "$env_file"

  wine_version=$("$WINELOADER" --version 2>/dev/null)
  case "$wine_version" in
    wine-[1-9][0-9].*) echo "Sonotape runs under $wine_version." ;;
    *) echo "Sonotape runs under ${wine_version:-an unknown Wine}: loopback capture of what plays needs Wine 10 or later; it records from the recording line." ;;
  esac
  if [ "$SONOTAPE_OWN_DISPLAY" = 1 ]; then
    cat <<MSG
Sonotape runs on the virtual display $DISPLAY: no desktop was found.
  see it:    tools/drive.sh screenshot NAME      (writes $build/screenshots/NAME.png)
  drive it:  tools/drive.sh record, tools/drive.sh menu, tools/drive.sh key e, ...
             (tools/drive.sh help lists them all)
  sound:     the recording input is a null sink; what plays into it is recorded:
             (. $build/run-env; paplay some.wav)
  end it:    tools/drive.sh close, or Ctrl+C here
MSG
  else
    echo "Sonotape runs on display $DISPLAY. Close it from its menu (right click on the window), or press Ctrl+C here."
  fi

  cd "$build/bin" || exit 1
  run_key="HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
  if wine reg query "$run_key" /v Sonotape >/dev/null 2>&1; then
    # "Start with Windows" is on: the Wine session start has started it in the tray.
    echo "Sonotape was started with the Wine session (Start with Windows is on); it waits in the tray."
    for _ in $(seq 1 20); do wine sntdrive.exe windows >/dev/null 2>&1 && break; sleep 0.5; done
    while wine sntdrive.exe windows >/dev/null 2>&1; do sleep 2; done
  else
    wine sonotape.exe
  fi
' run "$build"
