#!/usr/bin/env bash
# Installs what building, running and testing tandor need on Debian 12 (as root).
set -euo pipefail
PACKAGES="cmake ninja-build ccache g++ pkg-config clang clang-format libclang-rt-14-dev
 libgtest-dev libgmock-dev googletest
 libgtk2.0-dev libpulse-dev libsm-dev libice-dev ppp
 xvfb x11-apps x11-utils x11-xserver-utils x11-session-utils imagemagick trayer openbox
 wmctrl xdotool pulseaudio pulseaudio-utils sox socat iputils-ping iproute2 util-linux procps"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "setup: installing:$missing"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q >/dev/null
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -q --no-install-recommends $missing >/dev/null
fi
