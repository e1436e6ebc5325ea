#!/usr/bin/env bash
# Runs one Windows test executable under Wine in the test prefix. scripts/test.sh prepares the
# prefix and exports WINEPREFIX; run on its own, a prefix below the build tree is used.
set -euo pipefail
export WINEPREFIX="${WINEPREFIX:-${SNAPWREN_TEST_PREFIX:-$PWD/wineprefix-unit}}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
