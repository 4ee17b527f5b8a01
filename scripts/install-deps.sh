#!/usr/bin/env bash
# Installs the Debian 12 packages Corvessa needs to build, run and test, and
# only those that are missing. Safe to run again.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config git python3
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev
  libpulse-dev
  libx11-dev libxext-dev libxcomposite-dev libxdamage-dev libxfixes-dev libxrandr-dev libxtst-dev libxi-dev libxss-dev
  qt6-svg-dev
  # tests
  googletest libgtest-dev libgmock-dev
  xvfb xauth openbox xcompmgr picom trayer pulseaudio pulseaudio-utils ffmpeg xdotool dbus-daemon
  # a real X server with two monitors (the dummy driver) and xrandr to rearrange them
  xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
  # fonts for rendering the interface under Xvfb and the offscreen platform
  fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
