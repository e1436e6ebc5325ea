#!/usr/bin/env bash
# Installs what is missing, builds Snapwren and starts it under Wine: on your X display when
# DISPLAY is set, otherwise on a private Xvfb. Stops when Snapwren ends ("Beenden" in its tray
# menu) or on Ctrl+C.
#
# It builds in build/release/ (the CMake preset "release"), which no test build touches.
# SNAPWREN_UPLOAD_URL, SNAPWREN_UPDATE_HOST and SNAPWREN_UPDATE_KEY, when set, choose the servers
# and the update key; otherwise the built-in ones are used. WINEPREFIX is your usual Wine prefix
# (default ~/.wine).
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

bash scripts/setup.sh

build_dir="$repo/build/release"
source scripts/server-options.sh
echo "run.sh: building in $build_dir"
cmake --preset release "${server_options[@]}" >/dev/null
cmake --build --preset release -j"$(nproc)"
exe="$build_dir/Snapwren.exe"

export WINEPREFIX="${WINEPREFIX:-$HOME/.wine}"
# No Mono or Gecko installers: their prompts would wait for an answer.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "run.sh: preparing the Wine prefix $WINEPREFIX (about 15 s)"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi

if [ -n "${DISPLAY:-}" ]; then
  # A virtual desktop named "shell" has a taskbar with a notification area for the tray icon.
  echo "run.sh: starting Snapwren on $DISPLAY in a Wine desktop; quit it from its tray menu"
  exec wine explorer /desktop=shell,1600x900 "$exe"
fi

run_dir="$(mktemp -d)"
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$run_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

source scripts/xvfb.sh
start_xvfb 1600x900 "$run_dir" || { echo "run.sh: Xvfb did not start" >&2; exit 1; }

# Every program of the prefix then shares one virtual desktop with taskbar and tray, and the
# settings window finds fonts for the names it asks for.
wine regedit /S "Z:${repo//\//\\}\\scripts\\wine-desktop.reg"

wine "$exe" &
app_pid=$!
cat <<EOF
run.sh: Snapwren runs on the private X display $DISPLAY (Xvfb pid $xvfb_pid, 1600x900).
  Look at it:     DISPLAY=$DISPLAY import -window root snapwren.png
  Click the tray: DISPLAY=$DISPLAY xdotool mousemove 1590 890 click 3
EOF
if command -v x11vnc >/dev/null; then
  echo "  Watch live:     x11vnc -display $DISPLAY -localhost -forever  (VNC viewer on :5900)"
fi
echo "  Ctrl+C stops Snapwren and the X server."
wait "$app_pid" || true
app_pid=""
