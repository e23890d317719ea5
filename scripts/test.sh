#!/usr/bin/env bash
# Installs what is missing, builds the release preset and runs every test.
# Window, rendering and input tests need an X server: a private Xvfb is used.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh release
export NB_LOG_LEVEL="${NB_LOG_LEVEL:-info}"
# Keep the disk audio driver's output away from the tree.
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-disk}"
export SDL_DISKAUDIOFILE="${SDL_DISKAUDIOFILE:-/tmp/nubora-test-audio.raw}"
xvfb-run -a -s "-screen 0 1920x1080x24" \
  ctest --preset release -j 2 --timeout 300 "$@"
