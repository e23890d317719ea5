#!/usr/bin/env bash
# Streams 720p60 from the test agent to the client on this machine, then
# floods the client's video port with forged datagrams, and prints the
# frame rate the client reported to the agent before and during the flood.
#   tools/udp-flood/flood_bench.sh [BUILD_DIR [CLEAN_SECONDS FLOOD_SECONDS RATE]]
# LAUNCHER=path picks another client binary (to compare builds). Needs an X
# server (xvfb-run when DISPLAY is unset) and the fixed session ports.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"; clean="${2:-15}"; flood="${3:-15}"; rate="${4:-50000}"
launcher="${LAUNCHER:-$build/nubora-launcher}"
work="$(mktemp -d -t nubora-flood.XXXXXX)"
trap '[ -n "${KEEP:-}" ] && echo "kept $work" || rm -rf "$work"' EXIT
token="flood-$RANDOM"
settle=5
"$build/nubora-agent-sim" --token "$token" --events "$work/events.jsonl" --no-audio \
  --duration $((settle + clean + flood + 20)) >"$work/agent.log" 2>&1 &
agent=$!
sleep 0.5
prefix=()
[ -z "${DISPLAY:-}" ] && prefix=(xvfb-run -a -s "-screen 0 1920x1080x24")
(cd "$work" && SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/audio.raw" \
  "${prefix[@]}" bash -c '"$@" >"$0/client.log" 2>&1 & echo $! >"$0/client.pid"; wait $!' "$work" \
  "$launcher" --host 127.0.0.1 --token "$token" --width 1280 --height 720 --fps 60) &
runner=$!
for _ in $(seq 100); do [ -s "$work/client.pid" ] && break; sleep 0.1; done
client="$(cat "$work/client.pid")"
rcvbuf_errors() { awk '/^Udp:/ { if (++n == 2) print $6 }' /proc/net/snmp; }
sleep "$settle"
t0=$(date +%s%N); sleep "$clean"
errors_before=$(rcvbuf_errors); cpu_before="$(awk '{print $14 + $15}' /proc/$client/stat)"
t1=$(date +%s%N)
"$build/nubora-udp-flood" --port 47998 --rate "$rate" --seconds "$flood" >"$work/flood.log"
t2=$(date +%s%N)
errors_after=$(rcvbuf_errors); cpu_after="$(awk '{print $14 + $15}' /proc/$client/stat)"
kill -INT "$client" 2>/dev/null || true; wait "$runner" 2>/dev/null || true
kill -INT "$agent" 2>/dev/null || true; wait "$agent" 2>/dev/null || true
python3 - "$work" "$t0" "$t1" "$t2" "$errors_before" "$errors_after" "$cpu_before" "$cpu_after" <<'PY'
import json, re, sys, time
work = sys.argv[1]
t0, t1, t2 = (int(x) / 1000 for x in sys.argv[2:5])
events = [json.loads(l) for l in open(f"{work}/events.jsonl") if l.strip()]
stats = [e for e in events if e.get("event") == "stats"]
# The agent stamps events with its monotonic clock; map the wall-clock phase
# bounds onto it through the offset between the two at the first stats line.
mono_now = time.monotonic_ns() / 1000
wall_now = time.time_ns() / 1000
shift = mono_now - wall_now
def mean_fps(a, b):
    xs = [s["decoded_fps"] for s in stats if a + shift <= s["t_us"] < b + shift]
    return (sum(xs) / len(xs), len(xs)) if xs else (float("nan"), 0)
clean, n_clean = mean_fps(t0, t1)
flood, n_flood = mean_fps(t1 + 1e6, t2)  # the flood's first second ramps up
log = open(f"{work}/client.log").read()
print(open(f"{work}/flood.log").read().strip())
print(f"decoded fps clean {clean:.1f} ({n_clean} reports), under flood {flood:.1f} ({n_flood} reports)")
print(f"kernel receive-buffer drops during the flood (all UDP sockets): {int(sys.argv[6]) - int(sys.argv[5])}")
ticks = int(sys.argv[8]) - int(sys.argv[7])
print(f"client CPU during the flood: {ticks / 100 / ((t2 - t1) / 1e6) * 100:.0f} % of one core")
for line in log.splitlines():
    if any(w in line for w in ("receive buffer", "decryption failed", "pictures presented", "UdpReceiver: stopped")):
        print("  " + line[:200])
print(f"client log: {len(log)} bytes")
PY
