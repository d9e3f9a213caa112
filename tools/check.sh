#!/usr/bin/env bash
# The house checks: what the code must keep before any test is worth running.
# Each finding is printed with the check's name and the file; the script fails
# when any check finds something.
#
#   tools/check.sh [BUILD_ROOT [CHECK...]]      CHECK: format, cppcheck, warnings (default: all three)
#
#   format    every tracked .cpp and .h under src/ and tests/ is as clang-format 14
#             writes it with the repository's .clang-format (clang-format-14 --dry-run -Werror)
#   cppcheck  cppcheck on src/, as x64 and as x86: its checks of severity error,
#             warning and portability (faults, not style), clean
#   warnings  src/ of both targets builds without a warning: -Wall -Wextra -Wshadow
#             -Werror (CMakeLists.txt); builds the program in BUILD_ROOT/x64 and BUILD_ROOT/x86
#
# A false cppcheck finding is suppressed where it is, with its reason:
#   // cppcheck-suppress <id> ; <why it is not a fault>
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(realpath -m "${1:-build}")
shift $(($# > 0 ? 1 : 0))
checks=("$@")
[ ${#checks[@]} -gt 0 ] || checks=(format cppcheck warnings)
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
cd "$here/.."

# The one clang-format the style is written for; another version formats some lines differently.
CLANG_FORMAT=clang-format-14

need_tool() {
  command -v "$1" >/dev/null && return 0
  echo "$2: $1 is not installed (run tools/setup.sh)"
  return 1
}

check_format() {
  need_tool "$CLANG_FORMAT" format || return 1
  local bad=0 f
  while IFS= read -r f; do
    if ! "$CLANG_FORMAT" --dry-run -Werror "$f" >/dev/null 2>&1; then
      echo "format: $f is not as $CLANG_FORMAT writes it (run: $CLANG_FORMAT -i $f)"
      bad=1
    fi
  done < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h')
  return $bad
}

check_cppcheck() {
  need_tool cppcheck cppcheck || return 1
  local bad=0 platform arch out
  for platform in win64 win32A; do
    arch=x64; [ "$platform" = win32A ] && arch=x86
    # Results kept between runs, so that a second run reads only the changed files.
    mkdir -p "$root/cppcheck-$arch"
    out=$(cppcheck --quiet -j 1 --cppcheck-build-dir="$root/cppcheck-$arch" \
      --std=c++20 --language=c++ --platform="$platform" --library=windows \
      -D_WIN32 -DWIN32 -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0600 -DWINVER=0x0600 -D_WIN32_IE=0x0600 -DNOMINMAX \
      -Isrc -Ires --enable=warning,portability --inline-suppr --error-exitcode=1 \
      --template="cppcheck ($arch): {file}:{line}: [{id}] {severity}: {message}" src 2>&1) || bad=1
    [ -n "$out" ] && { echo "$out"; bad=1; }
  done
  return $bad
}

check_warnings() {
  local bad=0 arch log
  for arch in x64 x86; do
    log="$root/$arch-check-build.log"
    mkdir -p "$root"
    if ! { bash "$here/configure.sh" "$root" "$arch" && cmake --build "$root/$arch" -j "$jobs" --target sonotape; } \
      >"$log" 2>&1; then
      grep -E ':[0-9]+:[0-9]+: (error|warning):' "$log" | sort -u | sed "s|^$PWD/||; s|^|warnings ($arch): |"
      echo "warnings ($arch): src/ does not build without warnings (full log: $log)"
      bad=1
    fi
  done
  return $bad
}

failed=()
for c in "${checks[@]}"; do
  case "$c" in
    format | cppcheck | warnings) ;;
    *) echo "check: unknown check '$c' (format, cppcheck, warnings)" >&2; exit 2 ;;
  esac
  echo "== check: $c"
  "check_$c" || failed+=("$c")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "checks failed: ${failed[*]}"
  exit 1
fi
echo "checks passed: ${checks[*]}"
