#!/usr/bin/env bash
# Builds lame_enc.dll, the MP3 encoder library Sonotape loads at run time, for
# one Windows target from Debian's LAME source package.
#
#   tools/build-lame.sh CACHE_DIR C_COMPILER [SOURCE_DIR]
#
# The library lands in CACHE_DIR/lame_enc.dll. A second run finds it there and
# only refreshes its time stamp; it is rebuilt when the recipe below changes.
# The source comes through `apt-get source` with the machine's own deb-src
# entries (tools/setup.sh writes them) into SOURCE_DIR (default
# CACHE_DIR/download); the builds of both targets share one download.
set -euo pipefail

cache=$(mkdir -p "${1:?cache dir}" && cd "$1" && pwd)
cc=${2:?C compiler}
dl=$(mkdir -p "${3:-$cache/download}" && cd "${3:-$cache/download}" && pwd)
out="$cache/lame_enc.dll"

# Debian builds its lame with -O2; on amd64 the floating point runs on SSE2.
# The same for the 32-bit library, whose default would be the x87 unit.
cflags="-O2 -msse -msse2 -mfpmath=sse"
recipe="lame 3.100 Dll; $cc; $cflags; configure --disable-shared --disable-frontend --disable-decoder"

. "$(dirname "$0")/debian-library.sh"
library_begin build-lame "$cache" "$out" "$recipe"
library_source "$dl" lame "lame_3.100-*" Dll/BladeMP3EncDLL.c

# --- the encoder library (static) -------------------------------------------------
host=$("$cc" -dumpmachine)
(cd "$src" && ./configure --host="$host" CC="$cc" CFLAGS="$cflags" \
   --disable-shared --enable-static --disable-frontend --disable-decoder --disable-gtktest) \
   >>"$log" 2>&1 || fail "configure failed"
make -C "$src/libmp3lame" -j2 >>"$log" 2>&1 || fail "make libmp3lame failed"

# --- the DLL -------------------------------------------------------------------------
# The DLL source includes <Windef.h>; the MinGW headers are lower case.
mkdir -p "$work/shim"
echo '#include <windef.h>' > "$work/shim/Windef.h"
"$cc" $cflags -DHAVE_CONFIG_H -I"$work/shim" -I"$src" -I"$src/include" -I"$src/libmp3lame" \
  -Wno-attributes -c "$src/Dll/BladeMP3EncDLL.c" -o "$work/BladeMP3EncDLL.o" >>"$log" 2>&1 ||
  fail "compiling BladeMP3EncDLL.c failed"
"$cc" -shared -s -static-libgcc -o "$work/lame_enc.dll" "$work/BladeMP3EncDLL.o" \
  "$src/Dll/BladeMP3EncDLL.def" "$src/libmp3lame/.libs/libmp3lame.a" >>"$log" 2>&1 ||
  fail "linking lame_enc.dll failed"

mv -f "$work/lame_enc.dll" "$out.tmp"
mv -f "$out.tmp" "$out"
library_end "$recipe"
