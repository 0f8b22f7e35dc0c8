#!/usr/bin/env bash
# A remote computer's agent killed and started again on its port: Kelvaro, on a virtual X server of its own,
# monitors two remote computers (the test peer, processes of their own over loopback TCP); one peer is killed
# (SIGKILL). That computer is lost once, logged with the reason, while the other is read on; it stays among
# the computers reconnected at launch, so once its agent listens again on the same port the next start of
# Kelvaro monitors it again and reads its values.
# Usage: kelvaro-peer-restart-xvfb.sh KELVARO PEER COMPUTER REMOTE-COMPUTER
set -euo pipefail
kelvaro=$1 peer=$2 computer=$3 remote=$4
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/remote-peers-lib.sh"

start_x_server 1280x800
start_remote_computers "$peer" "$remote" 2
write_remote_preferences
start_ready Kelvaro kelvaro "$kelvaro" --print-output-cache
pid=$started
gauges_made() { [ "$(grep -c "sensors of '.*' added as gauges" "$scratch/kelvaro.err")" -ge 2 ]; }
wait_until 120 "gauges of both remote computers" gauges_made

kill -KILL "${remote_pids[0]}"
wait "${remote_pids[0]}" 2>/dev/null || true
forget "${remote_pids[0]}"
lost() { grep -cE "has lost connection|has failed" "$scratch/kelvaro.err" || true; }
lost_once() { [ "$(lost)" -ge 1 ]; }
wait_until 60 "the computer whose agent was killed was not given up" lost_once
grep -qE "(has lost connection|has failed)\. It closed the connection" "$scratch/kelvaro.err" ||
  fail "the loss was logged without its reason: $(grep -E 'has lost|has failed' "$scratch/kelvaro.err")"
before=$(peer_requests remote2 currentRawValues)
read_on() { [ "$(peer_requests remote2 currentRawValues)" -ge $((before + 3)) ]; }
wait_until 60 "the other computer was not read on" read_on
[ "$(lost)" -eq 1 ] || fail "the loss was logged $(lost) times"
[ "$(grep -c "Timeout while waiting" "$scratch/kelvaro.err" || true)" -eq 0 ] || fail "time-outs logged after a closed connection"
quit_cleanly "$pid" Kelvaro
grep -q "^remote\.KVREMOTE0002\.[^	]*	[^	]" "$scratch/kelvaro.out" || fail "the other computer's gauges had no value at the quit"

# Its agent again, on the same port: the next start reconnects it and reads it.
start_peer "$peer" "$scratch/computer1" remote1 "${remote_ports[0]}"
[ "$peer_port" = "${remote_ports[0]}" ] || fail "the agent listens on $peer_port, not on ${remote_ports[0]}"
start_ready Kelvaro kelvaro "$kelvaro" --print-output-cache
pid=$started
wait_until 120 "gauges of both remote computers after the restart" gauges_made
read_again() { [ "$(peer_requests remote1 currentRawValues)" -ge 2 ]; }
wait_until 60 "the restarted computer was not read" read_again
quit_cleanly "$pid" Kelvaro
grep -q "^remote\.KVREMOTE0001\.[^	]*	[^	]" "$scratch/kelvaro.out" || fail "the restarted computer's gauges had no value"
echo "the killed agent's computer was lost once with its reason and monitored again after its restart"
