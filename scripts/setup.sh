#!/usr/bin/env bash
# Installs every Debian package Brenvik needs to build, run and test. Safe to re-run.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  clang libclang-rt-14-dev
  zlib1g-dev libcurl4-openssl-dev libssl-dev libsqlite3-dev libsecret-1-dev
  libcpp-httplib-dev libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev
  curl openssl nginx-light time python3 aria2
  qt6-base-dev qt6-webengine-dev qt6-translations-l10n libgl-dev xvfb xauth fonts-noto-cjk
  desktop-file-utils appstream dpkg-dev groff-base librsvg2-bin
  gnome-keyring libsecret-tools dbus-bin
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
