#!/usr/bin/env bash
# Drives the Sonotape that `make run` started on a virtual display: clicks,
# menu keys, dialog buttons and text, through the project's own driver.
#
#   tools/drive.sh [BUILD_DIR] COMMAND...     (run `tools/drive.sh help` for the commands)
#
# It joins the Wine session and the display that tools/run.sh wrote down in
# BUILD_DIR/run-env while the program runs.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build="$here/../build/x64"
if [ $# -gt 0 ] && [ -d "$1" ]; then build=$1; shift; fi
env_file="$build/run-env"
if [ ! -f "$env_file" ]; then
  echo "drive: Sonotape is not running (start it with: make run)" >&2
  exit 1
fi
# shellcheck disable=SC1090
source "$env_file"
if [ "${1:-help}" = help ]; then
  cat <<'HELP'
  windows              list the program's visible windows
  record               click the record button (again: end the recording)
  tray [right]         click the tray icon (right: its menu)
  menu                 right click on the main window: the menu
  key KEY              a key to the open menu or dialog: a letter (the underlined one), up, down, enter, escape
  type TITLE ID TEXT   type into control ID of dialog TITLE (recording options: 1001 is the path)
  press TITLE ID       click control ID of dialog TITLE (1 OK, 2 Cancel, 6 Yes, 7 No;
                       recording options: 1006 WAV, 1007 MP3 128, 1016 FLAC, 1014 time limit)
  close                end the program
  screenshot NAME      save the display as build/x64/screenshots/NAME.png
HELP
  exit 0
fi
if [ "$1" = screenshot ]; then
  exec bash "$here/screenshot.sh" "${2:-now}" "$build/screenshots"
fi
exec "${WINELOADER:-wine}" "$build/bin/sntdrive.exe" "$@"
