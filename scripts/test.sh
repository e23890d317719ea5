#!/usr/bin/env bash
# Installs what is missing, then runs every check CI runs, each stage timed:
#   1. the optimised (release) build of the programs, the fountain code's
#      exhaustive vectors, and an impaired stream through the marketplace for
#      NB_SOAK_SECONDS (default 60);
#   2. the asan build (ASan + UBSan) and every suite in it;
#   3. the tsan build of the threaded suites (nb_concurrency_suites), those;
#   4. the libFuzzer targets, NB_FUZZ_SECONDS (default 30) each, two at a
#      time;
#   5. the Windows x64 build (mingw-w64) and its suites under wine
#      (scripts/build-windows.sh), whose packages install in the background
#      from the start.
# NB_SANITIZERS=0 leaves out stages 2 and 3 and runs every suite in the
# release tree instead; NB_SOAK_SECONDS=0, NB_FUZZ_SECONDS=0 or NB_WINDOWS=0
# leave their stage out.
# Arguments go to ctest for the suites (e.g. -R Depacketizer).
# Window, rendering and input tests need an X server: a private Xvfb is used.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
windows_packages_log=/tmp/nubora-windows-packages.log
windows="${NB_WINDOWS:-1}"
if [ "$windows" != 0 ]; then
  # Downloading and unpacking wine and mingw-w64 needs little CPU: it goes on
  # while the Linux stages build.
  ./scripts/build-windows.sh --packages-only >"$windows_packages_log" 2>&1 &
  windows_packages=$!
fi

export NB_LOG_LEVEL="${NB_LOG_LEVEL:-info}"
# Keep the disk audio driver's output away from the tree.
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-disk}"
export SDL_DISKAUDIOFILE="${SDL_DISKAUDIOFILE:-/tmp/nubora-test-audio.raw}"
# A sanitizer report fails its test: UBSan stops instead of going on.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"

run_started=$(date +%s)
stage_started=$run_started
timings=()
stage_done() {
  local now
  now=$(date +%s)
  timings+=("$(printf '%-34s %5d s' "$1" $((now - stage_started)))")
  stage_started=$now
}
on_exit() {
  printf '\n== times ==\n'
  printf '%s\n' "${timings[@]}"
  echo "total $(($(date +%s) - run_started)) s"
}
trap on_exit EXIT

in_x() { xvfb-run -a -s "-screen 0 1920x1080x24" "$@"; }

sanitizers="${NB_SANITIZERS:-1}"
if [ "$sanitizers" != 0 ]; then
  # Every suite runs in the asan tree below. The optimised tree builds the
  # programs the soak and the Windows suites run, and the fountain code's
  # suite for its exhaustive vectors (150 s under the sanitizers, 8 here).
  cmake --preset release >/dev/null
  cmake --build --preset release -j "$(nproc)" \
    --target nubora-launcher nubora-agent-sim nubora-backend-sim nb_test_fec
  stage_done "release build (programs, fec suite)"
  in_x ctest --preset release --timeout 300 -R '^FecVectors\.'
  stage_done "release fountain-code vectors"
else
  ./scripts/build.sh release
  stage_done "release build"
  in_x ctest --preset release -j 2 --timeout 300 "$@"
  stage_done "release suites"
fi
soak_seconds="${NB_SOAK_SECONDS:-60}"
if [ "$soak_seconds" -gt 0 ]; then
  in_x ./scripts/soak.sh "$soak_seconds"
  stage_done "soak ($soak_seconds s)"
fi

if [ "$sanitizers" != 0 ]; then
  ./scripts/build.sh asan
  stage_done "asan build"
  # The fuzz targets' replays are left to the libFuzzer stage, and the
  # fountain code's exhaustive vectors to the release stage.
  in_x ctest --preset asan -j 2 --timeout 600 -LE fuzz -E '^FecVectors\.EveryBlockCountMatchesExactly$' "$@"
  stage_done "asan suites"
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan -j "$(nproc)" --target nb_concurrency_suites
  stage_done "tsan build (threaded suites)"
  # Only the threaded suites are built; the others' placeholders are left out.
  in_x ctest --preset tsan -j 2 --timeout 600 -LE fuzz -E '_NOT_BUILT$'
  stage_done "tsan suites"
fi

fuzz_seconds="${NB_FUZZ_SECONDS:-30}"
if [ "$fuzz_seconds" -gt 0 ]; then
  # The asan tree's targets are libFuzzer programs already; a tree of their
  # own would cost CI a build.
  if [ "$sanitizers" != 0 ]; then
    NB_FUZZ_PRESET=asan ./scripts/fuzz.sh "$fuzz_seconds"
  else
    ./scripts/fuzz.sh "$fuzz_seconds"
  fi
  stage_done "fuzz ($fuzz_seconds s per target)"
fi

if [ "$windows" != 0 ]; then
  if ! wait "$windows_packages"; then
    echo "test: installing the Windows build's packages failed:" >&2
    cat "$windows_packages_log" >&2
    exit 1
  fi
  ./scripts/build-windows.sh
  stage_done "windows (libraries, build, suites under wine)"
fi
