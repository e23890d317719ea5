#!/usr/bin/env bash
# A long stream over an impaired link: the test agent loses, reorders,
# duplicates, corrupts and forges datagrams (audio included) while the
# client plays. Fails when the client dies, stops showing pictures, or its
# memory keeps growing after the first minute's warm-up.
#   scripts/soak.sh [SECONDS [BUILD_DIR]]     (default 600 s, build/)
# Needs an X server (xvfb-run when DISPLAY is unset) and the fixed session
# ports, so nothing else may stream on this machine meanwhile.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"; build="$(cd "${2:-build}" && pwd)"
work="$(mktemp -d -t nubora-soak.XXXXXX)"
trap '[ -n "${KEEP:-}" ] && echo "kept $work" || rm -rf "$work"' EXIT
token="soak-$RANDOM"
"$build/nubora-agent-sim" --token "$token" --events "$work/events.jsonl" --duration $((seconds + 30)) \
  --loss 3 --burst-loss 0.5 --burst-length 6 --reorder-window 8 --duplicate 1 --corrupt 0.5 --forge 1 \
  --impair-audio --seed 14 >"$work/agent.log" 2>&1 &
agent=$!
sleep 0.5
prefix=()
[ -z "${DISPLAY:-}" ] && prefix=(xvfb-run -a -s "-screen 0 1920x1080x24")
(cd "$work" && SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null \
  "${prefix[@]}" bash -c '"$@" >"$0/client.log" 2>&1 & echo $! >"$0/client.pid"; wait $!; echo $? >"$0/client.rc"' \
  "$work" "$build/nubora-launcher" --host 127.0.0.1 --token "$token" --width 1280 --height 720 --fps 60) &
runner=$!
for _ in $(seq 100); do [ -s "$work/client.pid" ] && break; sleep 0.1; done
client="$(cat "$work/client.pid")"
# Resident memory in KiB every 5 s, while the client lives.
for ((t = 0; t < seconds; t += 5)); do
  sleep 5
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$client/status" 2>/dev/null) || break
  echo "$((t + 5)) $rss" >>"$work/rss.txt"
done
alive=yes; kill -0 "$client" 2>/dev/null || alive=no
kill -INT "$client" 2>/dev/null || true; wait "$runner" 2>/dev/null || true
kill -INT "$agent" 2>/dev/null || true; wait "$agent" 2>/dev/null || true
python3 - "$work" "$seconds" "$alive" <<'PY'
import json, re, sys
work, seconds, alive = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "yes"
rss = [tuple(map(int, l.split())) for l in open(f"{work}/rss.txt")] if alive else []
stats = [json.loads(l) for l in open(f"{work}/events.jsonl") if '"stats"' in l]
fps = [s["decoded_fps"] for s in stats if s.get("event") == "stats"]
log = open(f"{work}/client.log").read()
rc = open(f"{work}/client.rc").read().strip() if alive else "?"
problems = []
if not alive: problems.append("the client died during the soak")
if rc not in ("0", "?"): problems.append(f"the client exited with {rc}")
late = [fps_ for fps_ in fps[len(fps) // 2:]]
mean_late = sum(late) / len(late) if late else 0
if mean_late < 30: problems.append(f"decoded {mean_late:.1f} fps over the second half")
# Memory after the warm-up (a minute, or a third of a short soak) must stay flat.
warm = [r for t, r in rss if t >= min(60, seconds // 3)]
growth = (warm[-1] - warm[0]) / 1024 if len(warm) > 1 else 0
if growth > 32: problems.append(f"resident memory grew {growth:.0f} MiB after the warm-up")
print(f"soak {seconds} s: decoded {mean_late:.1f} fps over the second half, "
      f"resident {rss[0][1] // 1024 if rss else 0} -> {rss[-1][1] // 1024 if rss else 0} MiB "
      f"(after warm-up {growth:+.1f} MiB), client log {len(log)} bytes")
for p in problems: print("soak: " + p)
sys.exit(1 if problems else 0)
PY
