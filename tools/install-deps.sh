#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need.
set -euo pipefail
packages=(
  cmake ninja-build g++
  qt6-base-dev qt6-base-dev-tools libgl-dev
  famfamfam-flag-png famfamfam-silk tango-icon-theme fonts-dejavu-core
  ngircd
  inspircd  # the second chat server of the end-to-end tests
  xvfb openbox  # the X server and window manager of the window-frame and end-to-end tests
  dbus-daemon x11-utils  # the alert test's own session bus; xprop and xmessage
  # installing: the validators, the Debian package's library dependencies,
  # and the window search of the install test
  desktop-file-utils appstream dpkg-dev file xdotool
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "Please install the missing packages first:" >&2
  echo "  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
