#!/usr/bin/env bash
# Streams from the test agent to the client on this machine for a while and
# prints what the stream's health looks like from both ends: key-frame
# requests, the loss the client reported, pictures decoded and presented.
#   bench/session/stream_health.sh [BUILD_DIR [WIDTH HEIGHT SECONDS]] [-- agent options]
# Needs an X server (runs under xvfb-run when DISPLAY is unset). It binds the
# fixed session ports, so nothing else may stream on this machine meanwhile.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"; width="${2:-1920}"; height="${3:-1080}"; seconds="${4:-30}"
shift $(( $# < 4 ? $# : 4 )) || true
[ "${1:-}" = "--" ] && shift
work="$(mktemp -d -t nubora-health.XXXXXX)"
trap '[ -n "${KEEP:-}" ] && echo "kept $work" || rm -rf "$work"' EXIT
token="health-$RANDOM"
"$build/nubora-agent-sim" --token "$token" --events "$work/events.jsonl" --no-audio \
  --duration $((seconds + 20)) "$@" >"$work/agent.log" 2>&1 &
agent=$!
sleep 0.5
prefix=()
[ -z "${DISPLAY:-}" ] && prefix=(xvfb-run -a -s "-screen 0 1920x1080x24")
load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
(cd "$work" && SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/audio.raw" \
  "${prefix[@]}" bash -c '"$@" >"$0/client.log" 2>&1 & echo $! >"$0/client.pid"; wait $!' "$work" \
  "$build/nubora-launcher" --host 127.0.0.1 --token "$token" --width "$width" --height "$height" --fps 60) &
runner=$!
for _ in $(seq 100); do [ -s "$work/client.pid" ] && break; sleep 0.1; done
client="$(cat "$work/client.pid")"
sleep "$seconds"
client_cpu="$(ps -o times= -p "$client" 2>/dev/null || echo 0)"
load_after="$(cut -d' ' -f1-3 /proc/loadavg)"
kill -INT "$client" 2>/dev/null || true; wait "$runner" 2>/dev/null || true
agent_cpu="$(ps -o times= -p "$agent" 2>/dev/null || echo 0)"
kill -INT "$agent" 2>/dev/null || true; wait "$agent" 2>/dev/null || true
python3 - "$work" "$seconds" "$load_before" "$load_after" "$agent_cpu" "$client_cpu" <<'PY'
import json, re, sys
work, seconds = sys.argv[1], float(sys.argv[2])
events = [json.loads(l) for l in open(f"{work}/events.jsonl") if l.strip()]
kind = lambda k: [e for e in events if e.get("event") == k]
idr = kind("request_idr"); stats = kind("stats"); frames = kind("frame_sent")
loss = [s.get("packet_loss_pct", 0) for s in stats]
unrepairable = sum(1 for f in frames if "impairment" in f and
                   len(f["impairment"].get("lost_data", [])) > 0 and
                   len(f["impairment"]["lost_data"]) >= f.get("repair_packets", 0) - f["impairment"].get("lost_repair", 0))
log = open(f"{work}/client.log").read()
num = lambda pat: int(m.group(1)) if (m := re.search(pat, log)) else -1
decoded = num(r"LibavDecoder: shutdown \(decoded (\d+)"); presented = num(r"GlRenderer: shutdown \((\d+)")
print(f"frames sent {len(frames)}, key-frame requests after the first {max(0, len(idr) - 1)}, "
      f"frames the agent reports unrepairable {unrepairable}")
if loss:
    print(f"stats messages {len(stats)}: loss mean {sum(loss)/len(loss):.1f} %, max {max(loss):.1f} %, "
          f"non-zero in {sum(1 for l in loss if l > 0)}")
print(f"client: decoded {decoded}, presented {presented} ({presented/seconds:.1f} per second over {seconds:.0f} s)")
print(f"load average before {sys.argv[3]}, after {sys.argv[4]}")
print(f"CPU seconds used: client {sys.argv[6].strip()}, agent {sys.argv[5].strip()}")
for line in log.splitlines():
    if any(w in line for w in ("pictures presented", "superseded", "LibavDecoder", "KeyFrame", "VideoThread", "stale", "warn", "error")): print("  " + line[:220])
PY
