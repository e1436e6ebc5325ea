# Sourced by the scripts that need a private X server.
#
# start_xvfb <width>x<height> <folder>: starts Xvfb on a free display number, sets xvfb_pid and
# exports DISPLAY; returns 1 when the server does not come up. The caller stops it.
start_xvfb() {
  local size="$1" folder="$2"
  # -displayfd picks a free display number and writes it once the server accepts clients.
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$folder/display" \
    >"$folder/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$folder/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  [ -s "$folder/display" ] || return 1
  export DISPLAY=":$(head -n1 "$folder/display")"
}
