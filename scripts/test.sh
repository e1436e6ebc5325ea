#!/usr/bin/env bash
# Installs what is missing, builds Snapwren against loopback test servers (trusting updates signed
# with the test key tests/keys/update-test-key.pem), runs every test under Wine on a private X
# server (unit tests through CTest, then end-to-end tests through pytest), and stops all it
# started. BUILD_DIR: the build directory (default build/tests/, the CMake preset "tests"), with
# screenshots in $BUILD_DIR/test-artifacts/.
#   bash scripts/test.sh                      every test
#   bash scripts/test.sh -k menu -x           only the end-to-end tests, with pytest's arguments
#   bash scripts/test.sh --unit [-R overlay]  only the unit tests, with CTest's arguments
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
build_dir="$(realpath -m "${BUILD_DIR:-build/tests}")"
step() { printf '\n== %s\n' "$*"; }
fail() { printf 'test.sh: %s\n' "$*" >&2; exit 1; }

if [ "${SNAPWREN_TEST_NETNS:-}" != 1 ]; then
  step "packages"
  bash scripts/setup.sh || fail "package setup failed"
  step "build in $build_dir (test servers on localhost)"
  test_key="$(bash scripts/make-update-key.sh --public tests/keys/update-test-key.pem)"
  # The preset holds the loopback servers; the key is read from the repository each run.
  cmake --preset tests -B "$build_dir" -DSNAPWREN_UPDATE_KEY="$test_key" >/dev/null ||
    fail "cmake configure failed"
  cmake --build "$build_dir" -j"$(nproc)" || fail "build failed"
  # A network namespace of its own: the HTTPS servers on 127.0.0.1:443 collide with no parallel
  # run, and nothing they send can leave the machine.
  if unshare --net true 2>/dev/null; then
    SNAPWREN_TEST_NETNS=1 exec unshare --net -- bash "${BASH_SOURCE[0]}" "$@"
  fi
  echo "test.sh: no private network namespace (unshare failed); servers use the host's loopback"
else
  ip link set lo up || fail "cannot bring up the loopback interface"
fi

run_dir="$(mktemp -d "$build_dir/test-run.XXXXXX")"
export SNAPWREN_ARTIFACTS="$build_dir/test-artifacts"
rm -rf "$SNAPWREN_ARTIFACTS" && mkdir -p "$SNAPWREN_ARTIFACTS"
xvfb_pid=""
cleanup() {
  for prefix in "$run_dir"/template "$run_dir"/prefixes/*; do
    [ -d "$prefix" ] && WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1
  done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$run_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

source scripts/xvfb.sh
start_xvfb 1600x900 "$run_dir" || fail "Xvfb did not start: $(cat "$run_dir/xvfb.log")"

# A certificate authority of the run, and the localhost certificate it issues.
export SNAPWREN_CERT_DIR="$run_dir/certs"
mkdir -p "$SNAPWREN_CERT_DIR" && cd "$SNAPWREN_CERT_DIR" && (
  set -e
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Snapwren Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout ca.key -out ca.pem
  openssl x509 -in ca.pem -outform der -out ca.der
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout server.key -out server.csr
  printf '%s\n' "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1" "extendedKeyUsage=serverAuth" >ext
  openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
    -extfile ext -out server.pem
) >openssl.log 2>&1 || fail "openssl failed: $(cat openssl.log)"
cd "$repo"

step "Wine template prefix"
export WINEDEBUG=-all
# No Mono or Gecko installers, whose prompts would wait for ever, and no menu builder, which
# writes launchers for the prefix's Start-menu entries into the tester's own home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEPREFIX="$run_dir/template"
started=$SECONDS
(
  set -e
  wineboot -i
  # Now and then a desktop process lingers and the server never ends by itself.
  timeout 90 wineserver -w || wineserver -k
  # Wine links the profile's Desktop, Documents, Downloads, Pictures and templates folders to
  # $HOME: a test that saves or cleans up there would touch the tester's own files.
  find "$WINEPREFIX/drive_c/users" -type l -print0 | while IFS= read -r -d '' link; do
    rm "$link" && mkdir "$link"
  done
  wine regedit /S "Z:${repo//\//\\}\\scripts\\wine-desktop.reg"
  wine reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /d "" /f
  wine "$build_dir/tests/snaptool.exe" trust-ca "Z:${SNAPWREN_CERT_DIR//\//\\}\\ca.der"
  # The registry reaches the disk when the server ends; only then may the prefix be copied.
  timeout 90 wineserver -w || wineserver -k
) >"$run_dir/wineboot.log" 2>&1 || fail "the Wine prefix failed: $(tail -20 "$run_dir/wineboot.log")"
echo "booted in $((SECONDS - started)) s"
export SNAPWREN_BUILD_DIR="$build_dir" SNAPWREN_TEMPLATE_PREFIX="$WINEPREFIX"
export SNAPWREN_PREFIXES_DIR="$run_dir/prefixes"
mkdir -p "$SNAPWREN_PREFIXES_DIR"

unit_status=0
if [ $# -eq 0 ] || [ "$1" = --unit ]; then
  step "unit tests"
  [ $# -gt 0 ] && shift && only_unit=yes
  cp -a "$WINEPREFIX" "$SNAPWREN_PREFIXES_DIR/unit"
  WINEPREFIX="$SNAPWREN_PREFIXES_DIR/unit" ctest --test-dir "$build_dir" --output-on-failure "$@"
  unit_status=$?
  [ $unit_status -eq 0 ] || echo "UNIT TESTS FAILED (ctest exit $unit_status)"
  [ -n "${only_unit:-}" ] && exit $unit_status
fi

step "end-to-end tests"
unset WINEPREFIX
# Without a test path among the arguments, every end-to-end test runs.
paths=(tests/e2e)
for arg in "$@"; do [ -e "${arg%%::*}" ] && paths=(); done
/usr/bin/python3 -m pytest -p no:cacheprovider --durations=5 "${paths[@]}" "$@"
e2e_status=$?
[ $unit_status -eq 0 ] || exit $unit_status
exit $e2e_status
