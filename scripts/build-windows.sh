#!/usr/bin/env bash
# Builds the Windows x64 client with mingw-w64 and runs its test suites under
# wine on a private Xvfb. Installs what is missing, cross-builds the
# libraries once into a cache (scripts/windows-deps.sh), then builds the
# `windows` preset into build-windows/.
#
#   scripts/build-windows.sh            build and test
#   scripts/build-windows.sh --no-tests build only
#   scripts/build-windows.sh --packages-only
#                                       install the Debian packages only
#   NB_WINDOWS_DEPS=<folder>            where the libraries and the wine
#                                       prefix are kept
set -euo pipefail
cd "$(dirname "$0")/.."
run_tests=1
packages_only=0
case "${1:-}" in
  --no-tests) run_tests=0 ;;
  --packages-only) packages_only=1 ;;
  "") ;;
  *) echo "usage: scripts/build-windows.sh [--no-tests | --packages-only]" >&2; exit 2 ;;
esac

packages=(
  # the 64-bit cross compilers with POSIX threads (not the whole mingw-w64
  # set, which adds three more compilers), and wine to run what they make
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64
  # unpacking and building the libraries from Debian's sources
  dpkg-dev autoconf automake libtool cmake ninja-build
  # Media Foundation's H.264 decoder under wine is GStreamer's
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav
  # tests: an X server for the windows, input injection, screenshots
  xvfb xauth xdotool imagemagick
)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "build-windows: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ "$packages_only" -eq 1 ]; then exit 0; fi

# Header-only libraries come from the Linux packages.
./scripts/install-deps.sh
./scripts/windows-deps.sh

export NB_WINDOWS_DEPS="${NB_WINDOWS_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/nubora/windows-deps}"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
if [ "$run_tests" -eq 0 ]; then exit 0; fi

# The WinHTTP suite talks to the Linux backend simulator of the release build,
# and the Windows client streams from its test agent.
cmake --preset release >/dev/null
cmake --build build -j "$(nproc)" --target nubora-backend-sim nubora-agent-sim

# A wine prefix of the build's own, made once, and a home whose ALSA default
# is a null device, so the audio endpoint exists and swallows the sound.
export WINEPREFIX="$NB_WINDOWS_DEPS/wineprefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
test_home="$NB_WINDOWS_DEPS/home"
mkdir -p "$test_home"
printf 'pcm.!default { type null }\nctl.!default { type hw card 0 }\n' > "$test_home/.asoundrc"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "build-windows: making the wine prefix"
  HOME="$test_home" wineboot -i >/dev/null 2>&1 || true
  # The prefix is only complete once its wineserver has written it out.
  HOME="$test_home" wineserver -w
  # A crashing test prints its backtrace and ends instead of waiting on a
  # crash dialog nobody sees.
  for attempt in 1 2 3; do
    if HOME="$test_home" wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
         /t REG_DWORD /d 0 /f >/dev/null 2>&1; then
      break
    fi
    if [ "$attempt" = 3 ]; then
      echo "build-windows: could not turn off wine's crash dialog in $WINEPREFIX" >&2
      exit 1
    fi
    sleep 2
  done
fi
# Windows has Tahoma in its fonts folder; wine keeps its own copy apart.
# Segoe UI Symbol, which the launcher takes its symbols from, wine lacks:
# DejaVu Sans, which draws the same ones, stands in under its file name.
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp -n /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
cp -n /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "$WINEPREFIX/drive_c/windows/Fonts/seguisym.ttf"
# One wineserver for the whole run: each test process then starts in a tenth
# of a second instead of three. One left by the set-up above ends first.
HOME="$test_home" wineserver -w
HOME="$test_home" wineserver -p
trap 'HOME="$test_home" wineserver -k >/dev/null 2>&1 || true' EXIT
# The first program on a display starts wine's desktop and services, which
# inherit its output: were that a suite listing its cases for ctest, ctest
# would wait on them until its time-out. A throwaway first run takes that.
# Six suites at a time: under wine they spend most of their time waiting.
HOME="$test_home" xvfb-run -a -s "-screen 0 1920x1080x24" bash -c '
  /usr/lib/wine/wine64 build-windows/nb_test_common.exe --gtest_list_tests </dev/null >/dev/null 2>&1
  exec ctest --preset windows -j 6 --timeout 300'
