#!/usr/bin/env bash
# One-command demo. Installs what is missing and builds, then:
#   ./scripts/demo.sh            starts the demo marketplace (nubora-backend-sim
#                                with the demo account, a catalogue and a real
#                                test agent behind every rented PC) on loopback
#                                and opens the launcher window pointed at it.
#                                Sign in as demo@nubora.test / nubora-demo.
#   ./scripts/demo.sh --direct   skips the marketplace: starts one test agent
#                                and streams from it at once. Further arguments
#                                go to the client, e.g. --width 1280 --height 720.
# Close the window (or press Ctrl+C) to end everything.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh release

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: no display found; running the client under a private Xvfb" >&2
  exec_prefix=(xvfb-run -a -s "-screen 0 1920x1080x24")
else
  exec_prefix=()
fi

state_dir="${XDG_STATE_HOME:-$HOME/.local/state}/nubora-demo"
mkdir -p "$state_dir"
helper_pid=""
trap 'if [ -n "$helper_pid" ]; then kill -INT "$helper_pid" 2>/dev/null || true; wait "$helper_pid" 2>/dev/null || true; fi' EXIT

# Waits until the helper's log shows its ready line, or reports why not.
wait_ready() {
  local log="$1" pattern="$2" what="$3"
  for _ in $(seq 1 100); do
    if grep -q "$pattern" "$log" 2>/dev/null; then return 0; fi
    if ! kill -0 "$helper_pid" 2>/dev/null; then break; fi
    sleep 0.1
  done
  echo "demo: $what did not start:" >&2
  cat "$log" >&2
  exit 1
}

if [ "${1:-}" = "--direct" ]; then
  shift
  token="demo-$RANDOM$RANDOM"
  agent_log="$state_dir/agent.log"
  ./build/nubora-agent-sim --token "$token" --events "$state_dir/agent.events.jsonl" >"$agent_log" 2>&1 &
  helper_pid=$!
  sleep 0.5
  if ! kill -0 "$helper_pid" 2>/dev/null; then
    echo "demo: the test agent did not start:" >&2
    cat "$agent_log" >&2
    exit 1
  fi
  echo "demo: test agent running (log: $agent_log)"
  "${exec_prefix[@]}" ./build/nubora-launcher --host 127.0.0.1 --token "$token" "$@"
  exit $?
fi

port_file="$state_dir/backend.port"
rm -f "$port_file"
backend_log="$state_dir/backend.log"
(cd "$state_dir" && exec "$OLDPWD/build/nubora-backend-sim" --seed-demo --port 0 --port-file "$port_file" \
   --db "$state_dir/marketplace.db" --agent "$OLDPWD/build/nubora-agent-sim") >"$backend_log" 2>&1 &
helper_pid=$!
wait_ready "$backend_log" "ready on" "the demo marketplace"
port="$(cat "$port_file")"
echo "demo: marketplace on http://127.0.0.1:$port (log: $backend_log)"
echo "demo: sign in as demo@nubora.test with the password nubora-demo"
NB_SAAS_URL="127.0.0.1:$port" "${exec_prefix[@]}" ./build/nubora-launcher "$@"
