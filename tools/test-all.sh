#!/usr/bin/env bash
# Builds and tests the given targets, one after the other, and closes with one
# line for CI: "N passed, N failed" over every suite that ran. Before them, the
# house checks (tools/check.sh: format, cppcheck, warnings of both targets)
# count as one more step that passes or fails.
#
#   tools/test-all.sh BUILD_ROOT ARCH...      ARCH: x64, x86
#
# The x86 suite needs a machine that can execute 32-bit programs. Where it
# cannot, the x86 target is still built (so that code which compiles for one
# target only is caught) and its suite is skipped with a plain notice.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=${1:?build root}; shift
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
passed=0 failed=0 rc=0
# The Wine that runs the tests: Wine 10 or later, the machine's own or the
# Debian 13 root's where the machine's is older (tools/bed-root.sh).
bed() { bash "$here/bed-root.sh" run -- "$@"; }
wine_version=$(bed /usr/lib/wine/wine64 --version 2>/dev/null | tr -d '\r')
bed_root=$(bash "$here/bed-root.sh" path)
echo "== tests run under ${wine_version:-no Wine}${bed_root:+ (Debian 13 root $bed_root)}"
# The house checks (tools/check.sh) first, counted as one step: a finding fails
# the run, and the suites still run after it.
echo "== checks"
if bash "$here/check.sh" "$root"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1)); rc=1
fi
for arch in "$@"; do
  build="$root/$arch"
  echo "== $arch: build"
  if ! bash "$here/configure.sh" "$root" "$arch" || ! cmake --build "$build" -j "$jobs"; then
    echo "$arch: the build failed"
    failed=$((failed + 1)); rc=1
    continue
  fi
  if ! bed bash "$here/wine-loader.sh" runs "$arch"; then
    if [ "$arch" = x86 ]; then
      echo "x86 suite skipped: this machine cannot run 32-bit programs"
      continue
    fi
    echo "$arch: Wine's loader $(bash "$here/wine-loader.sh" path "$arch") does not run here (run tools/setup.sh)"
    failed=$((failed + 1)); rc=1
    continue
  fi
  echo "== $arch: tests"
  bed bash "$here/run-tests.sh" "$build" || rc=1
  read -r p f < "$build/last-test-counts" || { p=0; f=1; }
  passed=$((passed + p)); failed=$((failed + f))
done
echo "$passed passed, $failed failed"
[ "$rc" = 0 ] && [ "$failed" = 0 ] && [ "$passed" -gt 0 ]
