#!/usr/bin/env bash
# Builds the release preset and runs every benchmark: the Google Benchmark
# programs in bench/, the fountain code's memory across a session, and a
# traced stream from the test agent at 720p60 and 1080p60. Writes all
# figures to one JSON file and rewrites the generated section of
# docs/PERFORMANCE.md. Not part of CI; about 3 minutes on a 2-core machine
# once the build is up to date.
#   scripts/bench.sh [--out FILE] [--stream-seconds S] [--skip-build] [--no-docs]
# The streams bind the fixed session ports: nothing else may stream meanwhile.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
out="$root/build/bench-results.json"
stream_seconds=20
build=1
docs=1
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out="$(realpath -m "$2")"; shift 2 ;;
    --stream-seconds) stream_seconds="$2"; shift 2 ;;
    --skip-build) build=0; shift ;;
    --no-docs) docs=0; shift ;;
    -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
started=$(date +%s)
targets=(nb_bench_fec nb_bench_fec_memory nb_bench_net nb_bench_audio nb_bench_input nb_bench_session
         nb_bench_video nb_bench_agent_sim nubora-launcher nubora-agent-sim)
if [ "$build" = 1 ]; then
  cmake --preset release >/dev/null
  cmake --build build -j 2 --target "${targets[@]}"
fi
raw="$(mktemp -d -t nubora-bench.XXXXXX)"
trap 'rm -rf "$raw"' EXIT
xrun=""
[ -z "${DISPLAY:-}" ] && xrun="xvfb-run -a -s '-screen 0 1920x1080x24' "

# Each benchmark program: its name, then the command as it is recorded.
declare -a commands=(
  "nb_bench_fec|build/nb_bench_fec --benchmark_min_time=0.1 --benchmark_repetitions=3 --benchmark_report_aggregates_only=true"
  "nb_bench_net|build/nb_bench_net --benchmark_min_time=0.1"
  "nb_bench_audio|build/nb_bench_audio --benchmark_min_time=0.1"
  "nb_bench_input|build/nb_bench_input --benchmark_min_time=0.1"
  "nb_bench_session|build/nb_bench_session --benchmark_min_time=0.1"
  "nb_bench_agent_sim|build/nb_bench_agent_sim --benchmark_min_time=0.1"
  "nb_bench_video|${xrun}build/nb_bench_video --benchmark_min_time=0.1"
)
for entry in "${commands[@]}"; do
  name="${entry%%|*}"; command="${entry#*|}"
  [ -x "build/$name" ] || { echo "bench.sh: build/$name missing, skipped" >&2; continue; }
  echo "bench.sh: $command" >&2
  printf '%s' "$command" >"$raw/$name.command"
  eval "$command" --benchmark_out="$raw/$name.json" --benchmark_out_format=json >/dev/null 2>"$raw/$name.err" ||
    echo "bench.sh: $name failed" >&2
done

command="build/nb_bench_fec_memory 20"
echo "bench.sh: $command" >&2
printf '%s' "$command" >"$raw/fec_memory.command"
build/nb_bench_fec_memory 20 >"$raw/fec_memory.json" || echo "bench.sh: nb_bench_fec_memory failed" >&2

for stream in "1280 720 10000" "1920 1080 30000"; do
  set -- $stream
  # The busy scene makes the frames fill the bit rate asked for.
  command="bench/session/stream_trace.sh build $1 $2 $stream_seconds $3 -- --busy-scene"
  echo "bench.sh: $command" >&2
  printf '%s' "$command" >"$raw/stream_$2.command"
  bench/session/stream_trace.sh build "$1" "$2" "$stream_seconds" "$3" -- --busy-scene >"$raw/stream_$2.json" ||
    echo "bench.sh: stream at $1x$2 failed" >&2
done

elapsed=$(( $(date +%s) - started ))
doc_args=()
[ "$docs" = 1 ] && doc_args=(--docs docs/PERFORMANCE.md)
python3 scripts/bench_report.py "$raw" "$out" "$elapsed" "${doc_args[@]}"
echo "bench.sh: results in $out after ${elapsed} s" >&2
