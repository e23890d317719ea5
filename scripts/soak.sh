#!/usr/bin/env bash
# A long stream over an impaired link, the way a user gets one: the test
# backend rents out a test agent that loses, reorders, duplicates, corrupts
# and forges datagrams (audio included) while streaming 1280x720 at 60 fps;
# the client signs in through its launcher window and plays, its
# session-info poller asking the backend every 2 s. Fails when the client
# dies, stops showing pictures, loses a frame its repair data could have
# rebuilt, stops polling, or its memory keeps growing after the warm-up.
#   scripts/soak.sh [SECONDS [BUILD_DIR]]     (default 600 s, build/)
# Needs the fixed session ports, so nothing else may stream on this machine
# meanwhile; runs under a private Xvfb when there is no display.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$@"; fi
seconds="${1:-600}"; build="$(cd "${2:-build}" && pwd)"
work="$(mktemp -d -t nubora-soak.XXXXXX)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -n "${KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "soak: $*" >&2; exit 1; }

# The marketplace, with impairments for every agent it starts.
impair=(--stream-size=1280x720 --loss=3 --burst-loss=0.4 --burst-length=5 --reorder-window=8
        --duplicate=1 --corrupt=1 --forge=1 --impair-audio --seed=14 --events="$work/events.jsonl")
agent_args=()
for a in "${impair[@]}"; do agent_args+=("--agent-arg=$a"); done
"$build/nubora-backend-sim" --port 0 --port-file "$work/port" --seed-demo --prepare-delay 500 \
  --agent "$build/nubora-agent-sim" "${agent_args[@]}" >"$work/backend.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "the backend did not start: $(cat "$work/backend.log")"
backend="127.0.0.1:$(cat "$work/port")"

# Rent the best-rated online PC as the demo user and wait until it streams;
# its connect answer becomes the link the client is started with.
link="$(python3 - "$backend" <<'PY'
import json, sys, time, urllib.request
base = f"http://{sys.argv[1]}/api"
def call(method, path, body=None, token=None):
    request = urllib.request.Request(base + path, method=method,
        data=json.dumps(body).encode() if body is not None else None,
        headers={"Content-Type": "application/json", **({"Authorization": f"Bearer {token}"} if token else {})})
    with urllib.request.urlopen(request, timeout=10) as answer:
        return json.loads(answer.read() or b"null")
token = call("POST", "/auth/login", {"email": "demo@nubora.test", "password": "nubora-demo"})["token"]
servers = call("GET", "/servers?sort=rating", token=token)["servers"]
server = next(s for s in servers if s.get("status") == "online")
call("POST", "/sessions", {"server_id": server["id"], "codec_preference": "h264", "duration_hours": 1}, token)
for _ in range(100):
    active = call("GET", "/sessions/active", token=token)
    if active and active.get("status") == "streaming": break
    time.sleep(0.2)
c = call("GET", "/sessions/active/connect", token=token)
print(f"nubora://session?host={c['host']}&token={c['token']}&control_port={c['control_port']}&fps=60")
PY
)" || fail "renting a PC failed: $(tail -5 "$work/backend.log")"

# The client, signed out, holding the link; the sign-in takes it.
mkdir -p "$work/client"
(cd "$work/client" && APPDATA="$work/appdata" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
  NB_SAAS_URL="$backend" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null \
  exec "$build/nubora-launcher" "$link" >"$work/client.log" 2>&1) &
client=$!
pids=("$client" "${pids[@]}")
window="$(timeout 30 xdotool search --sync --onlyvisible --name '^Nubora$' | tail -1)" || fail "no launcher window"
xdotool windowfocus --sync "$window"
type_at() { xdotool mousemove --window "$window" "$1" "$2" click 1; sleep 0.3; xdotool type --delay 20 "$3"; }
type_at 795 251 demo@nubora.test
type_at 795 325 nubora-demo
xdotool mousemove --window "$window" 795 428 click 1
for _ in $(seq 300); do grep -q "Entering SDL event loop" "$work/client.log" && break; sleep 0.1; done
grep -q "Entering SDL event loop" "$work/client.log" || fail "the stream did not start: $(tail -5 "$work/client.log")"

# Resident memory in KiB every 5 s, while the client lives.
for ((t = 0; t < seconds; t += 5)); do
  sleep 5
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$client/status" 2>/dev/null) || break
  echo "$((t + 5)) $rss" >>"$work/rss.txt"
done
alive=yes; kill -0 "$client" 2>/dev/null || alive=no
kill -INT "$client" 2>/dev/null || true; wait "$client" 2>/dev/null; echo $? >"$work/client.rc"

python3 - "$work" "$seconds" "$alive" <<'PY'
import json, re, sys
work, seconds, alive = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "yes"
rss = [tuple(map(int, l.split())) for l in open(f"{work}/rss.txt")] if alive else []
events = [json.loads(l) for l in open(f"{work}/events.jsonl")]
stats = [e for e in events if e.get("event") == "stats"]
fps = [s["decoded_fps"] for s in stats]
rc = open(f"{work}/client.rc").read().strip()
problems = []
if not alive: problems.append("the client died during the soak")
if alive and rc != "0": problems.append(f"the client exited with {rc}")
late = fps[len(fps) // 2:]
mean_late = sum(late) / len(late) if late else 0
if mean_late < 30: problems.append(f"decoded {mean_late:.1f} fps over the second half")
# Every frame the agent sent with a repair packet to spare must be rebuilt:
# the client may give up no more frames than lost as many packets as they
# had repair packets, or more.
log = open(f"{work}/client.log").read()
counts = re.findall(r"Depacketizer: (\d+) frames assembled, (\d+) given up incomplete", log)
assembled, given_up = map(int, counts[-1]) if counts else (0, 0)
def at_or_beyond_budget(frame):
    hurt = frame.get("impairment")
    if not hurt: return False
    # Corrupted datagrams are listed among the lost ones.
    lost_data = len(hurt.get("lost_data", []))
    if hurt.get("withheld"): return lost_data > 0
    return lost_data > 0 and lost_data + hurt.get("lost_repair", 0) >= frame.get("repair_packets", 0)
frames = [e for e in events if e.get("event") == "frame_sent"]
beyond = sum(1 for f in frames if at_or_beyond_budget(f))
if not counts: problems.append("the client logged no frame counts")
if given_up > beyond: problems.append(f"{given_up} frames given up, only {beyond} lost their whole repair margin")
# The poller asks about every 2 s while the stream runs.
polled = re.findall(r"SessionInfoPoller: stopped \((\d+) polls\)", log)
polls = int(polled[-1]) if polled else 0
if polls < seconds // 4: problems.append(f"the session-info poller asked {polls} times in {seconds} s")
# Memory after the warm-up (a minute, or a third of a short soak) must stay flat.
warm = [r for t, r in rss if t >= min(60, seconds // 3)]
growth = (warm[-1] - warm[0]) / 1024 if len(warm) > 1 else 0
if growth > 32: problems.append(f"resident memory grew {growth:.0f} MiB after the warm-up")
print(f"soak {seconds} s: decoded {mean_late:.1f} fps over the second half, "
      f"resident {rss[0][1] // 1024 if rss else 0} -> {rss[-1][1] // 1024 if rss else 0} MiB "
      f"(after warm-up {growth:+.1f} MiB), {polls} session polls, "
      f"{assembled} of {len(frames)} frames assembled, {given_up} given up ({beyond} without repair margin)")
for p in problems: print("soak: " + p)
sys.exit(1 if problems else 0)
PY
