# Sourced by the scripts that build Snapwren for use. Sets server_options: the CMake options
# that take SNAPWREN_UPLOAD_URL and SNAPWREN_UPDATE_HOST from the environment when they are set,
# and otherwise go back to the built-in servers.
server_options=()
for name in SNAPWREN_UPLOAD_URL SNAPWREN_UPDATE_HOST; do
  if [ -n "${!name:-}" ]; then
    server_options+=("-D$name=${!name}")
  else
    # The test command leaves loopback addresses in a shared build directory's cache.
    server_options+=("-U$name")
  fi
done
