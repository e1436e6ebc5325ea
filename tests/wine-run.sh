#!/usr/bin/env bash
# Runs one Windows test executable under Wine in the prefix that scripts/test.sh exports. Its
# output goes through a file, not CTest's pipe: the Wine server and services that the first Wine
# process starts inherit the pipe and would keep CTest waiting until its time-out.
output="$(mktemp)"
trap 'rm -f "$output"' EXIT
WINEDEBUG=-all wine "$@" >"$output" 2>&1 </dev/null
status=$?
cat "$output"
exit $status
