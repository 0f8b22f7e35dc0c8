#!/usr/bin/env bash
# A remote computer that greets a byte a second while Kelvaro, on a virtual X server of its own, connects it at
# its start beside a healthy one (the test peer, processes of their own over loopback TCP). The main thread
# never waits for the connection: "answers": a request on the single-instance socket (handled on the main
# thread) is answered while the greeting still trickles, before the connection is given up; the trickling
# computer then fails alone, once, with the reason, and the healthy one is read on. "sigterm": SIGTERM sent
# while the greeting trickles ends Kelvaro (status 0) before the connection is given up.
# Usage: kelvaro-trickling-peer-xvfb.sh KELVARO PEER COMPUTER REMOTE-COMPUTER answers|sigterm
set -euo pipefail
kelvaro=$1 peer=$2 computer=$3 remote=$4 mode=$5
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/remote-peers-lib.sh"

start_x_server 1280x800
copy_computer "$remote" "$scratch/healthy" KVREMOTE0001
copy_computer "$remote" "$scratch/trickling" KVREMOTE0002
start_peer "$peer" "$scratch/healthy" remote1
remote_serials=(KVREMOTE0001) remote_ports=("$peer_port")
start_peer "$peer" "$scratch/trickling" remote2 0 trickle-hello
remote_serials+=(KVREMOTE0002) remote_ports+=("$peer_port")
write_remote_preferences
start_ready Kelvaro kelvaro "$kelvaro"
pid=$started

wait_until 60 "Kelvaro did not greet the trickling computer" grep -q '^request hello' "$scratch/remote2.out"
given_up() { grep -q "has failed" "$scratch/kelvaro.err"; }

if [ "$mode" = sigterm ]; then
  kill -TERM "$pid"
  status=0
  wait "$pid" || status=$?
  forget "$pid"
  [ "$status" -eq 0 ] || fail "Kelvaro ended with status $status after SIGTERM"
  given_up && fail "Kelvaro waited for the trickling computer's connection before it ended"
  echo "SIGTERM during the trickled greeting ended Kelvaro before the connection was given up"
  exit 0
fi

# The single-instance socket is served on the main thread: its answer shows the thread is not held.
python3 - "$XDG_RUNTIME_DIR/com.tarnwell.Kelvaro.socket" <<'PYTHON' || fail "the main thread did not answer"
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.settimeout(60)
s.connect(sys.argv[1])
s.sendall(b"raise\n")
answer = s.makefile("rb").readline()
sys.exit(0 if answer == b"ok\n" else 1)
PYTHON
given_up && fail "the main thread answered only after the trickling computer's connection was given up"

# The trickling computer fails at its deadline, alone and once, with the reason; the healthy one is read on.
wait_until 60 "the trickling computer was not given up" given_up
[ "$(grep -c "has failed" "$scratch/kelvaro.err")" -eq 1 ] || fail "the failure was logged more than once"
grep -q "has failed. It did not answer in time." "$scratch/kelvaro.err" || fail "the failure was logged without its reason"
wait_until 60 "the healthy computer's gauges" grep -q "sensors of '.*' added as gauges" "$scratch/kelvaro.err"
read_before=$(peer_requests remote1 currentRawValues)
read_on() { [ "$(peer_requests remote1 currentRawValues)" -ge $((read_before + 2)) ]; }
wait_until 60 "the healthy computer was not read on" read_on
grep -qE "Timeout while waiting|has lost connection" "$scratch/kelvaro.err" && fail "the healthy computer was given up"
quit_cleanly "$pid" Kelvaro
echo "the main thread answered while the greeting trickled; only the trickling computer failed, with its reason"
