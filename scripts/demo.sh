#!/usr/bin/env bash
# One-command demo: installs what is missing, builds, starts the test agent
# on loopback with its moving test scene and a tone, and opens the client
# streaming from it. Close the window (or press Ctrl+C) to end both.
# Extra arguments go to the client, e.g. --width 1280 --height 720 --codec hevc.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh release

token="demo-$RANDOM$RANDOM"
agent_log="$(mktemp -t nubora-agent.XXXXXX.log)"
./build/nubora-agent-sim --token "$token" --events "${agent_log%.log}.events.jsonl" >"$agent_log" 2>&1 &
agent_pid=$!
trap 'kill -INT "$agent_pid" 2>/dev/null || true; wait "$agent_pid" 2>/dev/null || true' EXIT
sleep 0.5
if ! kill -0 "$agent_pid" 2>/dev/null; then
  echo "demo: the test agent did not start:" >&2
  cat "$agent_log" >&2
  exit 1
fi
echo "demo: test agent running (log: $agent_log)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: no display found; running the client under a private Xvfb" >&2
  exec_prefix=(xvfb-run -a -s "-screen 0 1920x1080x24")
else
  exec_prefix=()
fi
"${exec_prefix[@]}" ./build/nubora-launcher --host 127.0.0.1 --token "$token" "$@"
