#!/usr/bin/env bash
# Runs one Windows test executable under Wine in the test prefix. scripts/test.sh prepares the
# prefix and exports WINEPREFIX; run on its own, a prefix below the build tree is used.
#
# The test's output goes through a file, not straight to CTest's pipe: the first Wine process of
# a prefix starts the Wine server and its services, which inherit the pipe and keep it open long
# after the test has ended, so CTest would wait for them until its time-out.
set -uo pipefail
export WINEPREFIX="${WINEPREFIX:-${SNAPWREN_TEST_PREFIX:-$PWD/wineprefix-unit}}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
output="$(mktemp)"
trap 'rm -f "$output"' EXIT
wine "$@" >"$output" 2>&1 </dev/null
status=$?
cat "$output"
exit $status
