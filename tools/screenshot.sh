#!/usr/bin/env bash
# Saves a PNG of the whole X display (the bed's private Xvfb when run inside
# tools/bed.sh) so that a person can look at what the windows showed.
#
#   tools/screenshot.sh NAME [FOLDER]
#
# Writes FOLDER/NAME.png (FOLDER defaults to build/screenshots of this
# worktree). The file appears complete or not at all: it is written under a
# temporary name and renamed.
set -euo pipefail
name=${1:?usage: screenshot.sh NAME [FOLDER]}
here=$(cd "$(dirname "$0")" && pwd)
folder=${2:-$here/../build/screenshots}
mkdir -p "$folder"
: "${DISPLAY:?screenshot.sh: no DISPLAY}"
tmp="$folder/.$name.$$.png"
trap 'rm -f "$tmp"' EXIT
import -display "$DISPLAY" -window root "png:$tmp"
mv -f "$tmp" "$folder/$name.png"
