#!/usr/bin/env bash
# Builds Snapwren's Windows installer, Snapwren-Setup-<version>.exe, with NSIS (makensis).
#
#   bash scripts/build-installer.sh                    builds Snapwren.exe, then its installer
#   bash scripts/build-installer.sh --exe <Snapwren.exe> [--outdir <folder>]
#                                                      packs an exe that is already built
#
# Without --exe, Snapwren is built as scripts/run.sh builds it: in BUILD_DIR (default build/),
# against SNAPWREN_UPLOAD_URL and SNAPWREN_UPDATE_HOST when they are set, else the built-in
# servers. The installer lands in --outdir (default: the build directory); its version is the
# version resource of the Snapwren.exe it packs. The last line printed is the installer's path.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

usage() { sed -n '2,11p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 64; }

exe=""
outdir=""
while [ $# -gt 0 ]; do
  case "$1" in
    --exe) [ $# -ge 2 ] || usage; exe="$2"; shift 2 ;;
    --outdir) [ $# -ge 2 ] || usage; outdir="$2"; shift 2 ;;
    *) usage ;;
  esac
done

if [ -z "$exe" ]; then
  bash scripts/setup.sh
  build_dir="$(realpath -m "${BUILD_DIR:-build}")"
  source scripts/server-options.sh
  echo "build-installer.sh: building Snapwren in $build_dir" >&2
  cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release "${server_options[@]}" >/dev/null
  cmake --build "$build_dir" --target Snapwren -j"$(nproc)" >&2
  exe="$build_dir/Snapwren.exe"
  outdir="${outdir:-$build_dir}"
fi

command -v makensis >/dev/null ||
  { echo "build-installer.sh: makensis is missing: run scripts/setup.sh" >&2; exit 1; }
[ -f "$exe" ] || { echo "build-installer.sh: no such file: $exe" >&2; exit 1; }
exe="$(realpath "$exe")"
outdir="$(realpath -m "${outdir:-$(dirname "$exe")}")"
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
sed -n 's/^Output: "\(.*\)"$/\1/p' "$log"
