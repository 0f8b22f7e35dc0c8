#!/usr/bin/env bash
# A remote computer falls silent and the session ends: Kelvaro, on a virtual X server of its own, monitors a
# remote computer (the test peer, a process of its own over loopback TCP) with the connection window open;
# the peer is stopped with SIGSTOP while Kelvaro waits for its answer, and then either the X server is killed
# (a logout) or Kelvaro gets SIGTERM. Kelvaro must not wait for the stopped peer: it ends by itself (status 1
# after the lost display, 0 after SIGTERM, never a signal) with its preferences and a history file that
# decodes written after the end began.
# Usage: kelvaro-silent-peer-xvfb.sh KELVARO KELVARO-DUMP PEER COMPUTER REMOTE-COMPUTER display|sigterm
set -euo pipefail
kelvaro=$1 dump=$2 peer=$3 computer=$4 remote=$5 mode=$6
. "$(dirname "$0")/../support/session-lib.sh"
command -v xdotool >/dev/null && command -v ss >/dev/null || { echo "SKIP: xdotool or ss is missing"; exit 77; }

# Waits (hang guard: a minute) until FILE has a line matching PATTERN. Usage: wait_line FILE PATTERN WHAT
wait_line() {
  for _ in $(seq 1 600); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "$3 within 60 s"
}

start_x_server 1280x800
"$peer" "$remote" >"$scratch/peer.out" 2>"$scratch/peer.err" &
peer_pid=$!
pids+=("$peer_pid")
wait_line "$scratch/peer.out" '^listening on ' "the peer did not listen"
port=$(sed -n 's/^listening on //p' "$scratch/peer.out")

# The remote computer is remembered as connected at the last quit, so the launch connects it again.
"$dump" --simulate "$remote" machine >"$scratch/remote.plist"
mkdir -p "$(dirname "$(preferences_file)")"
python3 - "$scratch/remote.plist" "$(preferences_file)" "$port" <<'PYTHON'
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    serial = plistlib.load(f)["systemSerialNumber"]
with open(sys.argv[2], "wb") as f:
    plistlib.dump({"KnownRemoteConnections": {serial: ["127.0.0.1", int(sys.argv[3])]},
                   "ActiveRemoteConnections": [serial], "ReconnectClientsAtLaunchTime": True,
                   "PreferencesVersion": 3, "SensorWindowOpen": True}, f)
PYTHON

start_ready Kelvaro kelvaro "$kelvaro"
pid=$started
# Values are read from the remote computer once its client runs.
wait_line "$scratch/peer.out" '^request invoke currentRawValues$' "Kelvaro did not read the remote computer's values"

# Window > Connections in the sensor window's menu bar: the first menu opened by a click, then by keys (the
# last menu, its second item from the end).
window=
for _ in $(seq 1 600); do
  window=$(xdotool search --all --onlyvisible --pid "$pid" --name '^Sensors$' 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "no sensor window within 60 s"
connections=
for _ in $(seq 1 20); do
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove $((X + 20)) $((Y + 8)) click 1
  sleep 0.3
  xdotool key Left
  sleep 0.3
  xdotool key Up Up Return
  for _ in $(seq 1 30); do
    connections=$(xdotool search --onlyvisible --name '^Connected Computers$' 2>/dev/null | head -n 1 || true)
    [ -n "$connections" ] && break 2
    sleep 0.1
  done
  xdotool key Escape Escape Escape
done
[ -n "$connections" ] || fail "the connection window did not open"

kill -STOP "$peer_pid"
# Kelvaro has asked the stopped peer something: bytes wait unread on the peer's side of the connection.
asked=
for _ in $(seq 1 600); do
  asked=$(ss -tnH state established "( sport = :$port )" | awk '$1 > 0' || true)
  [ -n "$asked" ] && break
  sleep 0.1
done
[ -n "$asked" ] || fail "Kelvaro asked the stopped peer nothing within 60 s"

touch "$scratch/ending"
started_at=$(date +%s%N)
if [ "$mode" = display ]; then
  kill -KILL "$x_pid"
  stop_x_server
else
  kill -TERM "$pid"
fi
for _ in $(seq 1 300); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
kill -0 "$pid" 2>/dev/null && fail "Kelvaro still runs 15 s after the end began"
took=$(( ($(date +%s%N) - started_at) / 1000000 ))
status=0
wait "$pid" || status=$?
forget "$pid"
kill -CONT "$peer_pid"

expected=0
[ "$mode" = display ] && expected=1
[ "$status" -eq "$expected" ] || fail "Kelvaro ended with status $status, not $expected"
# On a quiet machine the end takes well under 2 s. Waiting for the stopped peer would cost its 10 s call
# time-out: 6 s keeps the margin a loaded machine needs and still tells the two apart.
[ "$took" -le 6000 ] || fail "Kelvaro took $took ms to end with a silent remote computer"
[ "$(preferences_file)" -nt "$scratch/ending" ] || fail "the preferences were not written at the end"
history=$XDG_DATA_HOME/Kelvaro/SensorHistory.tevshf
[ -s "$history" ] && [ "$history" -nt "$scratch/ending" ] || fail "no history file written at the end"
"$dump" history "$history" >"$scratch/history.out" 2>"$scratch/dump.err" || fail "the history file does not decode"
echo "Kelvaro ended ($mode) in $took ms with its remote computer stopped, files written"
