#!/usr/bin/env bash
# Counts the lines of Snapwren's code in the repository: test code (everything under tests/ and
# scripts/test.sh, which only the tests use) against product code (the program, its build,
# scripts, installer and server), and prints the ratio, which is to stay between 0.33 and 0.50.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

code='\.(cpp|h|hpp|c|py|sh|nsi|nsh|php|cmake|rc|ps1)$|(^|/)CMakeLists\.txt$|^\.ci/run$'
tests='^tests/|^scripts/test\.sh$'
count() { git ls-files | grep -E "$code" | grep -E "$@" | xargs -r cat | wc -l; }

test_lines=$(count "$tests")
product_lines=$(count -v "$tests")
printf 'test code     %6d lines\nproduct code  %6d lines\nratio          %5.2f\n' \
  "$test_lines" "$product_lines" "$(awk -v t="$test_lines" -v p="$product_lines" 'BEGIN { print t / p }')"
