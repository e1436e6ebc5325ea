#!/usr/bin/env bash
# Installs what building, running and testing Snapwren needs on Debian. Only missing packages are
# installed, so a second run returns at once.
set -euo pipefail

packages=(
  # cross compiler with std::thread, windres, GoogleTest sources, build system
  g++-mingw-w64-x86-64-posix mingw-w64-tools googletest cmake make
  # running the program and driving it like a user
  wine wine64 xvfb xdotool x11-utils imagemagick xclip
  # Wine's bcrypt.dll loads it at run time for ECDSA, which checks the updates' signatures
  libgnutls30
  # fonts that the test prefix substitutes for Segoe UI, Microsoft Sans Serif and Tahoma
  fonts-liberation fonts-dejavu-core
  # end-to-end tests, their HTTPS servers and the private network namespace they run in
  python3 python3-pytest openssl iproute2 util-linux
  # several monitors with a negative origin: Xorg with the dummy driver, placed by xrandr
  xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
  # the Windows installer, and the reference upload server run as deployed (nginx, PHP-FPM)
  nsis php-cli php-fpm nginx
  # the benchmark finds Snapwren's process to read its CPU time
  procps
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg -s "$package" 2>/dev/null | grep -q '^Status: install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
# With recommends: Wine needs libgnutls30 for HTTPS and the X extension libraries to draw.
"${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
echo "setup: done"
