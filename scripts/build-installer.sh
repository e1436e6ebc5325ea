#!/usr/bin/env bash
# Builds Snapwren's Windows installer, Snapwren-Setup-<version>.exe, with NSIS (makensis), and
# signs it for Snapwren's own update when given the private key.
#
#   bash scripts/build-installer.sh                    builds Snapwren.exe, then its installer
#   bash scripts/build-installer.sh --exe <Snapwren.exe> [--outdir <folder>]
#                                                      packs an exe that is already built
#   ... --sign <key.pem> --url <address of the installer> (--sequence <n> | --after <old.json>)
#       [--changelog <text or @file>]                  also writes Snapwren-Setup-<version>.json
#   ... --allow-test-key                               packs a test build (tests only)
#
# Without --exe, Snapwren is built as scripts/run.sh builds it: in build/release/ (the CMake preset
# "release"), against SNAPWREN_UPLOAD_URL and SNAPWREN_UPDATE_HOST when they are set, else the
# built-in servers, trusting the updates of SNAPWREN_UPDATE_KEY (none when unset). The installer
# lands in --outdir (default: the build directory); its version is the version resource of the
# Snapwren.exe it packs. With --sign, the .json beside it is the signed version.json that offers
# it (scripts/sign-update.sh), numbered <n> or one past <old.json>, the version.json served until
# now. An executable that trusts the test key (tests/keys/), whose private half is public, is
# refused unless --allow-test-key says it is a test build. The last line printed is the
# installer's path.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
usage() { sed -n '2,21p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 64; }

exe="" outdir="" key="" url="" changelog="" sequence=() allow_test_key=""
while [ $# -gt 0 ]; do
  [ "$1" != --allow-test-key ] || { allow_test_key=yes && shift && continue; }
  [ $# -ge 2 ] || usage
  case "$1" in
    # Paths are the caller's, taken before the script moves to the repository.
    --exe) exe="$(realpath -m "$2")" ;;
    --outdir) outdir="$(realpath -m "$2")" ;;
    --sign) key="$(realpath -m "$2")" ;;
    --url) url="$2" ;;
    --sequence) sequence=(--sequence "$2") ;;
    --after) sequence=(--after "$(realpath -m "$2")") ;;
    --changelog) changelog="$2" && [ "${2:0:1}" != @ ] || changelog="@$(realpath -m "${2:1}")" ;;
    *) usage ;;
  esac
  shift 2
done
[ -z "$key" ] || { [ -n "$url" ] && [ ${#sequence[@]} -eq 2 ]; } || usage
cd "$repo"

if [ -z "$exe" ]; then
  bash scripts/setup.sh
  build_dir="$repo/build/release"
  source scripts/server-options.sh
  echo "build-installer.sh: building Snapwren in $build_dir" >&2
  cmake --preset release "${server_options[@]}" >/dev/null
  cmake --build --preset release -j"$(nproc)" >&2
  exe="$build_dir/Snapwren.exe"
  outdir="${outdir:-$build_dir}"
fi

command -v makensis >/dev/null ||
  { echo "build-installer.sh: makensis is missing: run scripts/setup.sh" >&2; exit 1; }
[ -f "$exe" ] || { echo "build-installer.sh: no such file: $exe" >&2; exit 1; }
exe="$(realpath "$exe")"
outdir="$(realpath -m "${outdir:-$(dirname "$exe")}")"
# The build holds the public key it trusts as its hex text.
test_key="$(bash scripts/make-update-key.sh --public tests/keys/update-test-key.pem)"
if [ -z "$allow_test_key" ] && grep -qaF "$test_key" "$exe"; then
  echo "build-installer.sh: $exe trusts the test key, whose private half is public:" \
    "build it with the release key" >&2
  exit 1
fi
mkdir -p "$outdir"

# -WX: a warning (a missing file, a misspelt define) fails the build, as in the C++ build.
# makensis runs in installer/ and finds the icon from there.
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
if ! makensis -V3 -WX -DSNAPWREN_EXE="$exe" -DOUTDIR="$outdir" installer/snapwren.nsi >"$log" 2>&1
then
  cat "$log" >&2
  echo "build-installer.sh: makensis failed" >&2
  exit 1
fi
# makensis names the file it wrote as: Output: "<path>"
installer="$(sed -n 's/^Output: "\(.*\)"$/\1/p' "$log")"
if [ -n "$key" ]; then
  version="$(basename "$installer" .exe)" && version="${version#Snapwren-Setup-}"
  json="${installer%.exe}.json"
  bash scripts/sign-update.sh "${sequence[@]}" "$installer" "$version" "$url" "$key" \
    "$changelog" >"$json.part" ||
    { rm -f "$json.part"; exit 1; }
  mv "$json.part" "$json"
  echo "build-installer.sh: signed $json, to be served as version.json" >&2
fi
echo "$installer"
