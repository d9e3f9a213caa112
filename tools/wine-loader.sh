#!/usr/bin/env bash
# Wine's loader for one target, and whether this machine can run it.
#
#   tools/wine-loader.sh path ARCH     prints the loader of ARCH (x64 or x86)
#   tools/wine-loader.sh runs ARCH     exits 0 when the loader starts here
#
# With wine32 installed, /usr/bin/wine picks the 32-bit loader even for a
# 64-bit prefix, so the bed names the loader of its target explicitly. Some
# kernels cannot execute 32-bit programs at all ("Exec format error"); asking
# the 32-bit loader for its version finds that out in a moment.
set -uo pipefail
case "${2:-}" in
  x64) loader=/usr/lib/wine/wine64 ;;
  x86) loader=/usr/lib/wine/wine ;;
  *) echo "wine-loader: unknown ARCH '${2:-}' (x64 or x86)" >&2; exit 2 ;;
esac
case "${1:-}" in
  path) echo "$loader" ;;
  runs) [ -x "$loader" ] && "$loader" --version >/dev/null 2>&1 ;;
  *) echo "usage: wine-loader.sh path|runs ARCH" >&2; exit 2 ;;
esac
