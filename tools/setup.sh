#!/usr/bin/env bash
# Installs what building and testing Sonotape needs on a Debian machine.
# Idempotent: a second run checks, finds everything present and changes nothing.
set -euo pipefail

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

packages=(
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  cmake make
  wine wine64 wine32:i386
  xvfb x11-utils imagemagick
  pulseaudio pulseaudio-utils
  googletest
  dpkg-dev
  clang-format-14 cppcheck
  mpg123 madplay lame ffmpeg
  zip nsis
  debootstrap
)

added_arch=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  added_arch=1
fi

for p in "${packages[@]}"; do have_pkg "$p" || need+=("$p"); done

# Source entries for apt-get source, derived from the machine's own binary entries.
src_list=/etc/apt/sources.list.d/sonotape-deb-src.sources
added_src=0
if [ ! -f "$src_list" ]; then
  tmp=$(mktemp)
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    [ "$f" = "$src_list" ] && continue
    # Only Debian archives carry the lame source; keep stanzas whose suites look like Debian releases.
    awk 'BEGIN{RS=""; ORS="\n\n"} /Types:[^\n]*deb/ && /Suites:/ && /(debian|Debian)/ {
           gsub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f" >> "$tmp"
  done
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb[[:space:]]' /etc/apt/sources.list | sed 's/^deb /deb-src /' > "$tmp.list" || true
  fi
  if [ -s "$tmp" ]; then $SUDO cp "$tmp" "$src_list"; added_src=1; fi
  if [ -s "$tmp.list" ]; then $SUDO cp "$tmp.list" /etc/apt/sources.list.d/sonotape-deb-src.list; added_src=1; fi
  rm -f "$tmp" "$tmp.list"
  [ -f "$src_list" ] || $SUDO touch "$src_list"
fi

if [ ${#need[@]} -gt 0 ] || [ $added_arch = 1 ] || [ $added_src = 1 ]; then
  echo "setup: installing ${need[*]:-(source entries)}"
  $SUDO apt-get update -qq
  if [ ${#need[@]} -gt 0 ]; then
    $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  fi
fi
# The tests run under Wine 10 or later: where this
# machine's Wine is older, a Debian 13 root made once (tools/bed-root.sh) runs them.
bash "$(dirname "$0")/bed-root.sh" ensure
echo "setup: ok"
