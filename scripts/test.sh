#!/usr/bin/env bash
# Installs what is missing, builds Snapwren against loopback test servers and runs every test:
# the unit tests through CTest, then the end-to-end tests through pytest, all under Wine on a
# private X server. Everything this run starts is stopped again when it ends, failed or not.
#
#   bash scripts/test.sh                 every test
#   bash scripts/test.sh -k menu -x      only the end-to-end tests, with these pytest arguments
#   bash scripts/test.sh tests/e2e/test_app_shell.py
#   bash scripts/test.sh --unit [-R overlay]  only the unit tests, with these CTest arguments
#
# BUILD_DIR chooses the build directory (default build/). Screenshots of the end-to-end tests
# land in $BUILD_DIR/test-artifacts/.
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
python=/usr/bin/python3

step() { printf '\n== %s\n' "$*"; }
fail() { printf 'test.sh: %s\n' "$*" >&2; exit 1; }

build_dir="$(realpath -m "${BUILD_DIR:-build}")"
snaptool="$build_dir/tests/snaptool.exe"

if [ "${SNAPWREN_TEST_NETNS:-}" != 1 ]; then
  step "packages"
  bash scripts/setup.sh || fail "package setup failed"

  step "build in $build_dir (test servers on localhost)"
  cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release \
    -DSNAPWREN_UPLOAD_URL=https://localhost/upload.php \
    -DSNAPWREN_UPDATE_HOST=localhost >/dev/null || fail "cmake configure failed"
  cmake --build "$build_dir" -j"$(nproc)" || fail "build failed"
  [ -f "$build_dir/Snapwren.exe" ] && [ -f "$snaptool" ] ||
    fail "Snapwren.exe or snaptool.exe missing"

  # The tests run in a network namespace of their own: their HTTPS servers on 127.0.0.1:443 do
  # not collide with those of a parallel run, and nothing they send can leave the machine.
  if unshare --net true 2>/dev/null; then
    export SNAPWREN_TEST_NETNS=1
    exec unshare --net -- bash "${BASH_SOURCE[0]}" "$@"
  fi
  echo "test.sh: no private network namespace (unshare failed); servers use the host's loopback"
else
  ip link set lo up || fail "cannot bring up the loopback interface"
fi

# Every piece of state of this run lives below run_dir; parallel runs get their own.
run_dir="$(mktemp -d "$build_dir/test-run.XXXXXX")"
artifacts="$build_dir/test-artifacts"
rm -rf "$artifacts" && mkdir -p "$artifacts"
xvfb_pid=""

cleanup() {
  local prefix
  for prefix in "$run_dir"/template "$run_dir"/unit-prefix "$run_dir"/prefixes/*; do
    [ -d "$prefix" ] && WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1
  done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$run_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step "X server"
source scripts/xvfb.sh
start_xvfb 1600x900 "$run_dir" || fail "Xvfb did not start: $(cat "$run_dir/xvfb.log")"
echo "Xvfb $xvfb_pid on $DISPLAY"

step "test certificates"
certs="$run_dir/certs"
mkdir -p "$certs"
(
  set -e
  cd "$certs"
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Snapwren Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout ca.key -out ca.pem
  openssl x509 -in ca.pem -outform der -out ca.der
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout server.key -out server.csr
  printf '%s\n' "subjectAltName=DNS:localhost,IP:127.0.0.1" "extendedKeyUsage=serverAuth" \
    "basicConstraints=CA:FALSE" >server.ext
  openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
    -extfile server.ext -out server.pem
) >"$run_dir/openssl.log" 2>&1 || fail "openssl failed: $(cat "$run_dir/openssl.log")"
echo "CA and localhost certificate in $certs"

step "Wine template prefix"
export WINEDEBUG=-all
# No Mono or Gecko installers: their prompts would wait forever. No menu builder: it writes
# launchers for the prefix's Start-menu entries into the tester's own home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
template="$run_dir/template"
# Waits for the prefix's server to end by itself. Now and then a desktop process of the prefix
# lingers and the server never ends; stopping it then saves the registry all the same.
settle_prefix() {
  timeout 90 wineserver -w || { echo "wineserver still busy: stopping it"; wineserver -k; }
}
started=$SECONDS
(
  set -e
  export WINEPREFIX="$template"
  wineboot -i
  settle_prefix
  # Wine links the profile's Desktop, Documents, Downloads, media and templates folders to
  # $HOME: a test that saves or cleans up there would touch the tester's own files. Real
  # folders instead.
  find "$WINEPREFIX/drive_c/users" -type l -print0 | while IFS= read -r -d '' folder; do
    rm "$folder" && mkdir "$folder"
  done
  # One virtual desktop with taskbar and tray for every program of the prefix, and fonts for
  # the names Snapwren asks for.
  wine regedit /S "Z:${repo//\//\\}\\scripts\\wine-desktop.reg"
  wine "$snaptool" trust-ca "Z:${certs//\//\\}\\ca.der"
  # The registry reaches the disk when the server ends; only then may the prefix be copied.
  settle_prefix
) >"$run_dir/wineboot.log" 2>&1 ||
  fail "preparing the Wine prefix failed: $(tail -20 "$run_dir/wineboot.log")"
echo "booted in $((SECONDS - started)) s"

unit_status=0
unit_only=no
if [ "${1:-}" = --unit ]; then
  unit_only=yes
  shift
fi
if [ $# -eq 0 ] || [ $unit_only = yes ]; then
  step "unit tests"
  cp -a "$template" "$run_dir/unit-prefix"
  WINEPREFIX="$run_dir/unit-prefix" ctest --test-dir "$build_dir" --output-on-failure "$@"
  unit_status=$?
  WINEPREFIX="$run_dir/unit-prefix" wineserver -k >/dev/null 2>&1
  [ $unit_status -eq 0 ] || echo "UNIT TESTS FAILED (ctest exit $unit_status)"
fi

[ $unit_only = yes ] && exit $unit_status

step "end-to-end tests"
mkdir -p "$run_dir/prefixes"
export SNAPWREN_BUILD_DIR="$build_dir"
export SNAPWREN_TEMPLATE_PREFIX="$template"
export SNAPWREN_PREFIXES_DIR="$run_dir/prefixes"
export SNAPWREN_CERT_DIR="$certs"
export SNAPWREN_ARTIFACTS="$artifacts"
# Arguments go to pytest; without a test path among them, every end-to-end test runs.
pytest_args=("$@")
has_path=no
for arg in "$@"; do
  [ -e "${arg%%::*}" ] && has_path=yes
done
[ $has_path = yes ] || pytest_args=(tests/e2e "${pytest_args[@]}")
"$python" -m pytest -o cache_dir="$run_dir/pytest-cache" --durations=5 "${pytest_args[@]}"
e2e_status=$?

if [ $unit_status -ne 0 ]; then
  exit $unit_status
fi
exit $e2e_status
