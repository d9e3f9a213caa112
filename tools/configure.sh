#!/usr/bin/env bash
# Configures the build folder of one target (once; later builds reuse it).
#
#   tools/configure.sh BUILD_ROOT ARCH      ARCH: x64 or x86 -> BUILD_ROOT/ARCH
#
# Both targets share one download of the LAME source (BUILD_ROOT/lame-source)
# and one of the flac source (BUILD_ROOT/flac-source).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=${1:?build root}
arch=${2:?arch}
case "$arch" in
  x64) triple=x86_64-w64-mingw32 ;;
  x86) triple=i686-w64-mingw32 ;;
  *) echo "configure: unknown ARCH '$arch' (x64 or x86)" >&2; exit 2 ;;
esac
build="$root/$arch"
[ -f "$build/CMakeCache.txt" ] && exit 0
mkdir -p "$root/lame-source" "$root/flac-source"
cmake -S "$here/.." -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$here/../cmake/toolchain-$triple.cmake" \
  -DSONOTAPE_LAME_SOURCE="$(cd "$root/lame-source" && pwd)" \
  -DSONOTAPE_FLAC_SOURCE="$(cd "$root/flac-source" && pwd)" >/dev/null
