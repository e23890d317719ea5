#!/bin/sh
# The Windows client under wine streams from the Linux test agent on
# loopback: the pictures sent decoded, sound started, a key press
# and pointer motion reach the agent, the overlay's hotkey shows its panel,
# and an interrupt ends it cleanly.
#   windows_stream_test.sh CLIENT_EXE AGENT_BINARY WORK_DIR
# Runs under the suite's X server (DISPLAY) with wine's environment set.
set -u
client_exe="$1"; agent="$2"; work="$3"
rm -rf "$work"; mkdir -p "$work"; cd "$work" || exit 1
fail() { echo "FAIL: $*"; echo "--- client log"; tail -n 30 client.log; echo "--- agent log"; tail -n 10 agent.log; exit 1; }

"$agent" --token wine-e2e --events events.jsonl --duration 60 >agent.log 2>&1 &
agent_pid=$!
trap 'kill -INT $agent_pid 2>/dev/null' EXIT
sleep 0.5
wine "$client_exe" --host 127.0.0.1 --token wine-e2e --width 640 --height 360 --fps 30 >client.log 2>&1 &
client_pid=$!
for _ in $(seq 150); do grep -q "Entering SDL event loop" client.log 2>/dev/null && break; sleep 0.2; done
grep -q "Entering SDL event loop" client.log || fail "the stream did not start"
sleep 6
window=$(xdotool search --onlyvisible --name 'Nubora' | tail -1)
[ -n "$window" ] || fail "no streaming window"
xdotool windowfocus "$window" 2>/dev/null
xdotool mousemove --window "$window" 100 100 mousemove --window "$window" 140 120 key a
# The information panel, drawn by the overlay on the renderer's device.
sleep 1
xdotool key shift+alt+i
sleep 2
import -window root stream.png 2>/dev/null
kill -INT "$client_pid"
for _ in $(seq 100); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$client_pid" 2>/dev/null && { kill -KILL "$client_pid"; fail "the client did not end on an interrupt"; }
wait "$client_pid"; status=$?

frames=$(grep -c '"event":"frame_sent"' events.jsonl)
fps=$(grep '"event":"stats"' events.jsonl | tail -1 | sed 's/.*"decoded_fps":\([0-9.]*\).*/\1/')
inputs=$(grep -c '"event":"input"' events.jsonl)
decoded=$(sed -n 's/.*MfDecoder: shutdown (decoded \([0-9]*\) frames).*/\1/p' client.log | tail -1)
echo "frames sent $frames, decoded ${decoded:-none}, last decoded fps ${fps:-none}, input records $inputs, client status $status"
[ "$status" -eq 0 ] || fail "the client exited with $status"
grep -q "Launcher: shutdown complete" client.log || fail "no clean shutdown"
grep -q "WasapiPlayer: playback started" client.log || fail "no sound"
# Nothing is lost on loopback: all but the frames in flight at the end are
# decoded, however slowly a loaded machine runs them.
[ -n "$decoded" ] && [ $((decoded * 10)) -ge $((frames * 9)) ] || fail "decoded ${decoded:-no} of $frames frames"
[ "$inputs" -gt 0 ] || fail "no input reached the agent"
grep -q "given up incomplete" client.log || fail "no frame counts"
grep -q "Overlay: information panel shown" client.log || fail "the overlay hotkey did nothing"
exit 0
