#!/usr/bin/env bash
# Builds libFLAC, the FLAC encoder library linked into Sonotape, as a static
# library for one Windows target from Debian's flac source package.
#
#   tools/build-flac.sh CACHE_DIR C_COMPILER [SOURCE_DIR]
#
# The library lands in CACHE_DIR/lib/libFLAC.a, its headers in
# CACHE_DIR/include/FLAC. A second run finds them there and only refreshes the
# library's time stamp; they are rebuilt when the recipe below changes. The
# source comes through `apt-get source` with the machine's own deb-src entries
# (tools/setup.sh writes them) into SOURCE_DIR (default CACHE_DIR/download);
# the builds of both targets share one download.
set -euo pipefail

cache=$(mkdir -p "${1:?cache dir}" && cd "$1" && pwd)
cc=${2:?C compiler}
dl=$(mkdir -p "${3:-$cache/download}" && cd "${3:-$cache/download}" && pwd)
out="$cache/lib/libFLAC.a"

# Debian builds its flac with -O2; the 32-bit library also keeps its floating
# point on SSE2 rather than the x87 unit (the encoder's LPC analysis is float).
cflags="-O2 -msse -msse2 -mfpmath=sse"
recipe="flac 1.4 libFLAC; $cc; $cflags; configure --disable-shared --disable-ogg --disable-programs --disable-examples --disable-doxygen-docs --disable-cpplibs --disable-stack-smash-protection --disable-fortify-source"

. "$(dirname "$0")/debian-library.sh"
library_begin build-flac "$cache" "$out" "$recipe"
library_source "$dl" flac "flac_1.4.*" include/FLAC/stream_encoder.h

# --- the library (static) -------------------------------------------------------
host=$("$cc" -dumpmachine)
(cd "$src" && ./configure --host="$host" CC="$cc" CFLAGS="$cflags" \
   --disable-shared --enable-static --disable-ogg --disable-programs --disable-examples \
   --disable-doxygen-docs --disable-cpplibs --disable-stack-smash-protection --disable-fortify-source \
   --disable-version-from-git) >>"$log" 2>&1 || fail "configure failed"
make -C "$src/src/libFLAC" -j1 >>"$log" 2>&1 || fail "make libFLAC failed"
[ -f "$src/src/libFLAC/.libs/libFLAC.a" ] || fail "no libFLAC.a after the build"

rm -rf "$cache/include" "$cache/lib.tmp"
mkdir -p "$cache/include/FLAC" "$cache/lib.tmp"
cp "$src"/include/FLAC/*.h "$cache/include/FLAC/"
cp "$src/src/libFLAC/.libs/libFLAC.a" "$cache/lib.tmp/libFLAC.a"
rm -rf "$cache/lib"
mv "$cache/lib.tmp" "$cache/lib"
library_end "$recipe"
