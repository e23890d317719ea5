#!/usr/bin/env bash
# Installs what is missing, builds the release preset and runs every test,
# then an impaired stream for NB_SOAK_SECONDS, then builds the libFuzzer
# targets and runs each for NB_FUZZ_SECONDS.
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
# A minute of streaming over a damaged link (scripts/soak.sh runs ten by
# default); NB_SOAK_SECONDS=0 leaves it out.
soak_seconds="${NB_SOAK_SECONDS:-60}"
if [ "$soak_seconds" -gt 0 ]; then
  xvfb-run -a -s "-screen 0 1920x1080x24" ./scripts/soak.sh "$soak_seconds"
fi
# The fuzz build (clang, sanitizers) takes about 11 minutes on a busy 2-core
# machine; 10 s per target keeps the whole run within CI's 30 minutes.
# NB_FUZZ_SECONDS=0 leaves fuzzing out.
fuzz_seconds="${NB_FUZZ_SECONDS:-10}"
if [ "$fuzz_seconds" -gt 0 ]; then
  ./scripts/fuzz.sh "$fuzz_seconds"
fi
