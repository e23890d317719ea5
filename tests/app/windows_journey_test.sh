#!/bin/sh
# The Windows launcher under wine, against the Linux test backend and the
# agents it starts: register, browse, rent a PC, stream it, close the
# stream, find the launcher again, and quit cleanly.
#   windows_journey_test.sh LAUNCHER_EXE BACKEND_BINARY AGENT_BINARY WORK_DIR
# Runs under the suite's X server (DISPLAY) with wine's environment set.
set -u
launcher_exe="$1"; backend="$2"; agent="$3"; work="$4"
rm -rf "$work"; mkdir -p "$work/backend"; cd "$work" || exit 1
fail() { import -window root failure.png 2>/dev/null; echo "FAIL: $*"; echo "--- launcher log"; tail -n 40 launcher.log; echo "--- backend log"; tail -n 10 backend/sim.log; exit 1; }
# wait_for TEXT SECONDS [COUNT]: until the launcher has logged TEXT COUNT times.
wait_for() {
  for _ in $(seq $(($2 * 5))); do
    [ "$(grep -cF -- "$1" launcher.log 2>/dev/null)" -ge "${3:-1}" ] && return 0
    sleep 0.2
  done
  fail "missing after $2 s: $1"
}
# Where the launcher window's items sit in its 1120 x 720 layout.
# The pointer settles before the press, as a hand's would.
click() { xdotool mousemove --window "$window" "$1" "$2" sleep 0.3 click 1; }
type_into() { click "$1" "$2"; xdotool type --delay 20 "$3"; }
find_window() {
  window=$(xdotool search --sync --onlyvisible --name '^Nubora$' | tail -1)
  [ -n "$window" ] || fail "no launcher window"
  xdotool windowfocus --sync "$window"
}

(cd backend && exec "$backend" --port 0 --port-file port --seed-demo --fast-password-hash --prepare-delay 500 \
  --db backend.sqlite --agent "$agent" </dev/null >sim.log 2>&1) &
backend_pid=$!
trap 'kill -TERM $backend_pid 2>/dev/null' EXIT
for _ in $(seq 100); do [ -s backend/port ] && break; sleep 0.1; done
[ -s backend/port ] || fail "the backend did not start"

# The prefix's own roaming folder (wine sets APPDATA itself): no remembered
# sign-in from an earlier run.
appdata=$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')
rm -rf "$(winepath -u "$appdata" 2>/dev/null)/Nubora"
NB_SAAS_URL="127.0.0.1:$(cat backend/port)" wine "$launcher_exe" >launcher.log 2>&1 &
launcher_pid=$!
wait_for "NativeLauncher: window shown" 60
find_window
# A first click on an empty spot makes the window wine's active one; on a
# loaded machine wine may not have done so from the focus alone by the time
# the first real click comes.
click 200 650
sleep 0.5
click 785 471                       # "Create one"
type_into 795 247 "Ada"
type_into 795 321 "ada@example.com"
type_into 795 395 "lovelace-1815"
click 795 524                       # "Create account"
wait_for "NativeLauncher: signed in as ada@example.com" 30
wait_for "servers listed" 30
click 749 331                       # the second card's details: an online PC
wait_for "NativeLauncher: showing " 30
click 921 292                       # "Rent"
wait_for "as session" 30
wait_for "is streaming" 60
click 110 163                       # the session page
click 510 185                       # "Launch stream"
wait_for "Entering SDL event loop" 60
sleep 4
import -window root stream.png 2>/dev/null
find_window
xdotool key alt+F4
wait_for "Session ended — returning to launcher" 60
wait_for "NativeLauncher: window shown" 30 2
find_window
xdotool key alt+F4
for _ in $(seq 150); do kill -0 "$launcher_pid" 2>/dev/null || break; sleep 0.2; done
kill -0 "$launcher_pid" 2>/dev/null && { kill -KILL "$launcher_pid"; fail "the launcher did not quit"; }
wait "$launcher_pid"; status=$?

mean=$(convert stream.png -format '%[fx:mean]' info: 2>/dev/null)
presented=$(sed -n 's/.*Launcher: \([0-9]*\) pictures presented.*/\1/p' launcher.log | tail -1)
echo "launcher status $status, pictures presented ${presented:-none}, screen mean ${mean:-none}"
[ "$status" -eq 0 ] || fail "the launcher exited with $status"
[ "${presented:-0}" -gt 0 ] || fail "no picture was presented"
awk "BEGIN { exit !(${mean:-0} > 0.02) }" || fail "the stream window stayed black"
grep -q "Launcher: shutdown complete" launcher.log || fail "no clean shutdown"
exit 0
