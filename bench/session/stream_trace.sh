#!/usr/bin/env bash
# Streams from the test agent to the client over loopback with the client's
# frame trace on, samples the client's threads from /proc, and prints one
# JSON object: end-to-end latency per stage (from the trace and the agent's
# event log), presented rate and jitter, CPU per thread group, peak RSS.
#   bench/session/stream_trace.sh [BUILD_DIR [WIDTH HEIGHT SECONDS KBPS]] [-- agent options]
# Needs an X server (runs under xvfb-run when DISPLAY is unset). It binds the
# fixed session ports, so nothing else may stream on this machine meanwhile.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-build}" && pwd)"; width="${2:-1280}"; height="${3:-720}"; seconds="${4:-20}"; kbps="${5:-10000}"
shift $(( $# < 5 ? $# : 5 )) || true
[ "${1:-}" = "--" ] && shift
warmup=3
# Another stream on this machine (a test, a demo) holds the session ports;
# wait for it to end rather than measure a client that cannot bind.
for _ in $(seq 240); do
  ss -Hltun 2>/dev/null | grep -qE ':(4799[89]|4800[0-3])\b' || break
  sleep 1
done
work="$(mktemp -d -t nubora-trace.XXXXXX)"
trap '[ -n "${KEEP:-}" ] && echo "kept $work" >&2 || rm -rf "$work"' EXIT
token="trace-$RANDOM"
"$build/nubora-agent-sim" --token "$token" --events "$work/events.jsonl" --no-audio \
  --duration $((seconds + warmup + 20)) "$@" >"$work/agent.log" 2>&1 &
agent=$!
for _ in $(seq 50); do grep -q "Agent: ready" "$work/agent.log" 2>/dev/null && break; sleep 0.1; done
prefix=()
[ -z "${DISPLAY:-}" ] && prefix=(xvfb-run -a -s "-screen 0 1920x1080x24")
(cd "$work" && NUBORA_FRAME_TRACE="$work/trace.csv" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/audio.raw" \
  "${prefix[@]}" bash -c '"$@" >"$0/client.log" 2>&1 & echo $! >"$0/client.pid"; wait $!' "$work" \
  "$build/nubora-launcher" --host 127.0.0.1 --token "$token" --width "$width" --height "$height" --fps 60 \
  --bitrate "$kbps") &
runner=$!
for _ in $(seq 100); do [ -s "$work/client.pid" ] && break; sleep 0.1; done
client="$(cat "$work/client.pid")"

# One line per thread: tid, name, user+system ticks.
threads() {
  for t in /proc/"$client"/task/*; do
    stat="$(cat "$t/stat" 2>/dev/null)" || continue
    rest="${stat##*) }"; set -- $rest
    echo "${t##*/} $(cat "$t/comm" 2>/dev/null | tr ' ' _) $(( ${12} + ${13} ))"
  done
}
sleep "$warmup"
mono_us() { python3 -c 'import time; print(time.monotonic_ns() // 1000)'; }
threads >"$work/threads.start"; mono_us >"$work/t.start"
load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
sleep "$seconds"
threads >"$work/threads.end"; mono_us >"$work/t.end"
grep -E '^(VmHWM|Threads):' /proc/"$client"/status >"$work/status" || true
load_after="$(cut -d' ' -f1-3 /proc/loadavg)"
kill -INT "$client" 2>/dev/null || true; wait "$runner" 2>/dev/null || true
kill -INT "$agent" 2>/dev/null || true; wait "$agent" 2>/dev/null || true
if [ ! -s "$work/trace.csv" ]; then
  echo "stream_trace: the client wrote no trace; its log:" >&2; tail -20 "$work/client.log" >&2; exit 1
fi
python3 "$here/trace_report.py" "$work" "$width" "$height" "$kbps" "$load_before" "$load_after" "$(getconf CLK_TCK)"
