#!/usr/bin/env bash
# Runs one target's test programs under Wine on the private bed and ends with
# one summary line: "<arch> suite: N passed, N failed" (the counts also go to
# BUILD_DIR/last-test-counts). A run that executed no test fails.
#
#   tools/run-tests.sh BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build/x64}
arch=$(cat "$build/target-arch" 2>/dev/null || echo "?")
log="$build/last-test-run.log"
mkdir -p "$build/screenshots"
rm -f "$build/last-test-counts"
bash "$here/bed.sh" "$build" -- \
  ctest --test-dir "$build" --output-on-failure --no-tests=error -j "${TEST_JOBS:-2}" ${CTEST_ARGS:-} 2>&1 | tee "$log"
rc=${PIPESTATUS[0]}
summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1)
if [ -z "$summary" ]; then
  echo "0 1" > "$build/last-test-counts"
  echo "$arch suite: 0 passed, 1 failed (no test was run)"
  exit 1
fi
failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$summary")
echo "$((total - failed)) $failed" > "$build/last-test-counts"
echo "$arch suite: $((total - failed)) passed, $failed failed"
[ "$rc" = 0 ] && [ "$failed" = 0 ] && [ "$total" -gt 0 ]
