#!/usr/bin/env bash
# Runs a Windows program under Wine after ending the bed's Wine session, so
# that it starts with a fresh wineserver: Wine keeps what it learnt of the
# audio devices (their formats) for as long as its server runs, and a test of
# a device whose format was changed must see the new one. Only for tests that
# run alone (SERIAL): every other Wine program of the bed ends with it.
#
#   tools/fresh-wine.sh PROGRAM.exe [ARGS...]
set -uo pipefail
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
exec wine "$@"
