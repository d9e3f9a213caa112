#!/usr/bin/env bash
# Runs every benchmark program under the bed (under Wine 10 or later, in the
# Debian 13 root where the machine's Wine is older); each prints lines of the form
# "bench <name>: key=value ...". A summary of those lines closes the output.
# Each starts with a fresh Wine server, so that one that changes the bed's
# sound devices (their rate) before it first uses them is heard at that rate.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build/x64}
build=$(cd "$build" && pwd)
log="$build/last-bench-run.log"
benches=$(find "$build/bin" -maxdepth 1 -name 'bench_*.exe' | sort)
if [ -z "$benches" ]; then echo "no benchmark programs found" >&2; exit 1; fi
bash "$here/bed-root.sh" run -- bash "$here/bed.sh" "$build" -- bash -c '
  rc=0
  for b in '"$(echo $benches)"'; do
    echo "== $(basename "$b")"
    (cd "'"$build"'/bin" && bash "'"$here"'/fresh-wine.sh" "$b") || rc=1
  done
  exit $rc' 2>&1 | tee "$log"
rc=${PIPESTATUS[0]}
echo
echo "== summary"
grep -E '^bench [a-z0-9_]+:' "$log" | tr -d '\r'
exit "$rc"
