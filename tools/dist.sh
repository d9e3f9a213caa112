#!/usr/bin/env bash
# Packs Sonotape for Windows users, two files per target in BUILD_DIR/dist:
#   sonotape-windows-<arch>.zip   sonotape.exe (stripped), lame_enc.dll, the two
#                                 test sounds of the calibration and a short readme
#   sonotape-setup-<arch>.exe     the installer of the same four files
#                                 (installer/sonotape.nsi, built with NSIS' makensis)
# Both carry the build's version (BUILD_DIR/version, from CMakeLists.txt).
#
#   tools/dist.sh [BUILD_DIR]        (build/x64 or build/x86)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build/x64}" && pwd)
arch=$(cat "$build/target-arch")
case "$arch" in
  x64) triple=x86_64-w64-mingw32 ;;
  x86) triple=i686-w64-mingw32 ;;
esac
zip_name="sonotape-windows-$arch.zip"
setup_name="sonotape-setup-$arch.exe"
version=$(cat "$build/version")
command -v makensis >/dev/null || { echo "dist: makensis is missing (run tools/setup.sh)" >&2; exit 1; }
bin="$build/bin"
for f in sonotape.exe lame_enc.dll sound.wav sound.mid; do
  [ -f "$bin/$f" ] || { echo "dist: $bin/$f is missing (build first)" >&2; exit 1; }
done
stage="$build/dist/sonotape"
rm -rf "$stage" "$build/dist/$zip_name" "$build/dist/$setup_name"
mkdir -p "$stage"
"$triple-strip" -o "$stage/sonotape.exe" "$bin/sonotape.exe"
cp "$bin/lame_enc.dll" "$bin/sound.wav" "$bin/sound.mid" "$stage/"
title="Sonotape $version - a sound recorder for Windows"
{ echo "$title"; echo "$title" | tr -c '\n' '='; } | sed 's/$/\r/' > "$stage/README.txt"
sed 's/$/\r/' >> "$stage/README.txt" <<'TEXT'

Sonotape records what your sound card plays or hears into a WAV or MP3 file.

Which one
  sonotape-windows-x64.zip is for 64-bit Windows, which nearly every computer
  runs today; sonotape-windows-x86.zip is for 32-bit Windows (older systems).
  Not sure? Settings > System > About shows "System type". The two record
  exactly the same files.

Installing
  The easiest way: sonotape-setup-x64.exe (or -x86) installs Sonotape for
  you, with a Start-menu entry and an entry under Apps to remove it.
  Or, without installing: copy the four files of this zip into one folder
  of your choice and start sonotape.exe:
    sonotape.exe   the program
    lame_enc.dll   the MP3 encoder (without it only WAV files can be made)
    sound.wav      test sounds used once, when the program calibrates
    sound.mid      the recording levels

Using it
  - The first start offers to calibrate the recording levels: it plays two
    short sounds. You can also do this later from the menu.
  - Click the big round button: the recording starts at once. Choose the
    folder, the file name and the format (WAV or MP3) in the window that
    opens, and click OK. A time limit can end the recording by itself.
  - Click the button again to end the recording. Double click the window
    while it offers to, and the folder with the file opens.
  - Right click the window (or the icon in the notification area) for the
    menu: send the window to the tray, calibrate, reminders every 30
    minutes, a warning when the disk gets full, start with Windows, exit.
  - "sonotape.exe -t" starts in the notification area only.

Where things go
  Recordings:  the folder you choose (at first your Music folder).
  Settings:    the registry, HKEY_CURRENT_USER\Software\Korvel\Sonotape.
  log.txt:     one line per finished recording, in the folder the program
               is started from; where that folder cannot be written (an
               installation for all users), in %APPDATA%\Korvel\Sonotape.
  Problems:    %APPDATA%\Korvel\Korvel Sonotape Logged Events.txt
TEXT
(cd "$build/dist" && zip -q -r "$zip_name" sonotape)
echo "dist: $build/dist/$zip_name"
unzip -l "$build/dist/$zip_name"

makensis -V2 -DARCH="$arch" -DVERSION="$version" -DSTAGE="$stage" -DRES="$here/../res" \
  -DOUTFILE="$build/dist/$setup_name" "$here/../installer/sonotape.nsi"
echo "dist: $build/dist/$setup_name ($(stat -c %s "$build/dist/$setup_name") bytes, version $version)"
