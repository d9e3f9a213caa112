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

if [ -f "$out" ] && [ -f "$cache/recipe" ] && [ "$(cat "$cache/recipe")" = "$recipe" ]; then
  touch "$out"
  exit 0
fi

exec 9> "$cache/.lock"
flock 9

log="$cache/build.log"
: > "$log"
fail() {
  echo "build-lame: $*" >&2
  tail -n 30 "$log" >&2
  exit 1
}

# --- the source ---------------------------------------------------------------
. "$(dirname "$0")/debian-source.sh"
dsc=$(debian_source "$dl" lame "lame_3.100-*" "$log") ||
  fail "no lame 3.100 source from apt-get source (are deb-src entries configured? run tools/setup.sh): $(ls "$dl")"

work="$cache/work"
rm -rf "$work"
mkdir -p "$work"
dpkg-source --no-check -x "$dsc" "$work/src" >>"$log" 2>&1 || fail "dpkg-source -x failed"
src="$work/src"
[ -f "$src/Dll/BladeMP3EncDLL.c" ] || fail "no Dll/BladeMP3EncDLL.c in the lame source"

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
echo "$recipe" > "$cache/recipe"
rm -rf "$work"
echo "build-lame: $(basename "$dsc" .dsc) -> $out"
