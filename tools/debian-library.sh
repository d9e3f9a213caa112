# Sourced by the scripts that build a library for one Windows target from
# Debian's source package (tools/build-lame.sh, tools/build-flac.sh):
#
#   library_begin NAME CACHE_DIR OUT RECIPE
#       NAME: the script's name in its messages. When OUT exists and was built
#       with RECIPE, refreshes its time stamp and ends the script (nothing to
#       do). Otherwise takes CACHE_DIR's lock (two builds of one target wait
#       for each other) and starts a fresh log, CACHE_DIR/build.log.
#   fail MESSAGE...
#       Says what failed with the end of the log and ends the script.
#   library_source DOWNLOAD_DIR PACKAGE GLOB FILE
#       Unpacks the .dsc of PACKAGE in DOWNLOAD_DIR whose name matches GLOB
#       (say "lame_3.100-*") into $work/src and sets `dsc`, `work` and `src`;
#       FILE must be in it. The source is fetched first with `apt-get source`
#       through the machine's own deb-src entries (tools/setup.sh writes them)
#       when it is not there; when the source indexes are missing although the
#       entries exist, they are updated once. The download is made under a
#       lock, so the builds of both targets can share it.
#   library_end RECIPE
#       Records the recipe, removes the work folder and names what was built.

library_begin() {
  name=$1 cache=$2 out=$3
  if [ -f "$out" ] && [ -f "$cache/recipe" ] && [ "$(cat "$cache/recipe")" = "$4" ]; then
    touch "$out"
    exit 0
  fi
  exec 9> "$cache/.lock"
  flock 9
  log="$cache/build.log"
  : > "$log"
}

fail() {
  echo "$name: $*" >&2
  tail -n 30 "$log" >&2
  exit 1
}

# The newest .dsc in $1 matching $3, fetched (package $2) when there is none.
newest_or_fetched() {
  local dl=$1 package=$2 glob=$3 sudo="" found
  [ "$(id -u)" != 0 ] && sudo="sudo"
  found=$(ls "$dl"/$glob.dsc 2>/dev/null | sort -V | tail -n1 || true)
  if [ -z "$found" ]; then
    if ! (cd "$dl" && apt-get source --download-only "$package") >>"$log" 2>&1; then
      $sudo apt-get update -qq >>"$log" 2>&1 || true
      (cd "$dl" && apt-get source --download-only "$package") >>"$log" 2>&1 || return 1
    fi
    found=$(ls "$dl"/$glob.dsc 2>/dev/null | sort -V | tail -n1 || true)
  fi
  [ -n "$found" ] && echo "$found"
}

library_source() {
  local dl=$1 package=$2 glob=$3
  dsc=$({ flock 8 && newest_or_fetched "$dl" "$package" "$glob"; } 8> "$dl/.lock") ||
    fail "no $glob source from apt-get source $package (are deb-src entries configured? run tools/setup.sh): $(ls "$dl")"
  work="$cache/work"
  rm -rf "$work"
  mkdir -p "$work"
  dpkg-source --no-check -x "$dsc" "$work/src" >>"$log" 2>&1 || fail "dpkg-source -x failed"
  src="$work/src"
  [ -f "$src/$4" ] || fail "no $4 in the $package source"
}

library_end() {
  echo "$1" > "$cache/recipe"
  rm -rf "$work"
  echo "$name: $(basename "$dsc" .dsc) -> $out"
}
