# Sourced by the scripts that build Snapwren for use. Sets server_options: the CMake options
# that take SNAPWREN_UPLOAD_URL, SNAPWREN_UPDATE_HOST and SNAPWREN_UPDATE_KEY from the environment
# when they are set, and otherwise go back to the built-in servers and to no update key.
server_options=()
for name in SNAPWREN_UPLOAD_URL SNAPWREN_UPDATE_HOST SNAPWREN_UPDATE_KEY; do
  if [ -n "${!name:-}" ]; then
    server_options+=("-D$name=${!name}")
  else
    # A value given on an earlier run stays in the cache until it is removed.
    server_options+=("-U$name")
  fi
done
