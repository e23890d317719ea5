#!/usr/bin/env bash
# Installs every Debian 12 package the client, its tools and its tests need.
# Idempotent and non-interactive; run as root (or through sudo).
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # the sanitizer and fuzz presets: clang with libFuzzer and the sanitizer
  # runtimes, and lld, which links their large programs several times faster
  clang libclang-rt-14-dev lld
  # libraries the client links
  libsdl2-dev libopus-dev libsodium-dev libspdlog-dev libfmt-dev libasio-dev
  nlohmann-json3-dev libimgui-dev fonts-dejavu-core libfontconfig-dev libcurl4-openssl-dev
  libavcodec-dev libavutil-dev libavformat-dev libswscale-dev libva-dev
  libgl-dev libgl1-mesa-dri libegl-dev
  # the system certificate store the backend client verifies HTTPS against
  ca-certificates
  # tests, benchmarks and test servers (the backend simulator serves HTTPS
  # and keeps its state in SQLite; tests make throwaway certificates)
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev libssl-dev
  libsqlite3-dev openssl
  # a real X server, input injection and screenshots for end-to-end tests
  xvfb xauth xdotool imagemagick x11-utils
  # nubora:// registration: the tests check the desktop entry and open links
  # through the freedesktop tools, and the client refreshes their cache
  xdg-utils desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
