#!/usr/bin/env bash
# Debian 12 packages for building, testing and running Pennacle. Run as root.
set -euo pipefail
pkgs=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format clang-tidy
  libgtest-dev libsqlite3-dev libssl-dev libzip-dev libexpat1-dev libyaml-cpp-dev
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev libxcb1-dev
  xvfb xauth xdotool xclip imagemagick fonts-wqy-microhei fonts-arphic-uming libfontconfig-dev locales desktop-file-utils python3
  dpkg-dev lintian appstream librsvg2-bin  # the Debian package: its dependencies, icons, checks
  # The report's charts; the checkers of the journals kdbtool exports, and the browser its page is opened in.
  qt6-charts-dev qt6-svg-dev beancount hledger ledger chromium
  # The second window driven as a screen reader drives it: the accessibility bus and its Python client.
  at-spi2-core dbus-daemon python3-pyatspi
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
# Locales the tests switch to: de_DE has a decimal comma (number parsing must ignore LC_NUMERIC)
# and a 24-hour clock; en_US has a 12-hour clock.
for loc in de_DE en_US; do
  locale -a 2>/dev/null | grep -qix "${loc}.utf-\?8" || localedef -i "$loc" -f UTF-8 "${loc}.UTF-8"
done
