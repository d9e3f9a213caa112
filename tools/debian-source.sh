# Sourced by the scripts that build a library from Debian's source package
# (tools/build-lame.sh, tools/build-flac.sh).
#
#   debian_source DOWNLOAD_DIR PACKAGE GLOB LOG
#
# Prints the .dsc of PACKAGE in DOWNLOAD_DIR whose name matches GLOB (say
# "lame_3.100-*"), fetched first with `apt-get source` through the machine's own
# deb-src entries (tools/setup.sh writes them) when it is not there; when the
# source indexes are missing although the entries exist, they are updated once.
# Fails when no such source can be had (the output of the tools goes to LOG).
# Two builds at once share the download: it is made under a lock.
debian_source() {
  local dl=$1 package=$2 glob=$3 log=$4 dsc sudo=""
  [ "$(id -u)" != 0 ] && sudo="sudo"
  (
    flock 8
    dsc=$(ls "$dl"/$glob.dsc 2>/dev/null | sort -V | tail -n1 || true)
    if [ -z "$dsc" ]; then
      if ! (cd "$dl" && apt-get source --download-only "$package") >>"$log" 2>&1; then
        $sudo apt-get update -qq >>"$log" 2>&1 || true
        (cd "$dl" && apt-get source --download-only "$package") >>"$log" 2>&1 || exit 1
      fi
      dsc=$(ls "$dl"/$glob.dsc 2>/dev/null | sort -V | tail -n1 || true)
    fi
    [ -n "$dsc" ] && echo "$dsc"
  ) 8> "$dl/.lock"
}
