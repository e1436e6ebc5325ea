#!/usr/bin/env bash
# Runs one Windows test executable under Wine in the prefix that scripts/test.sh exports. Its
# output goes through files, not CTest's pipes: the Wine server and services that the first Wine
# process starts inherit the pipes and would keep CTest waiting until its time-out. Standard output
# stays apart from standard error, since CTest reads the list of test cases from it.
output="$(mktemp)" errors="$(mktemp)"
trap 'rm -f "$output" "$errors"' EXIT
WINEDEBUG=-all wine "$@" >"$output" 2>"$errors" </dev/null
status=$?
cat "$output"
cat "$errors" >&2
exit $status
