#!/usr/bin/env bash
# Faulty remote computers among healthy ones: Kelvaro, on a virtual X server of its own, connects at its start
# two healthy computers, a third that is later stopped (SIGSTOP, then SIGCONT), two services of another kind
# (one greets with an SSH banner and answers every line with another, one answers with an overlong line), a
# port nothing listens at, and three agents that greet but do not say who they are (one describes no computer,
# one a computer without a serial number, one says it sleeps first). Each faulty one fails alone and is logged
# once with its reason and its host and port; the healthy ones are read on every tick meanwhile and are never
# given up.
# Usage: kelvaro-faulty-peers-xvfb.sh KELVARO PEER COMPUTER REMOTE-COMPUTER
set -euo pipefail
kelvaro=$1 peer=$2 computer=$3 remote=$4
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/remote-peers-lib.sh"

start_x_server 1280x800
start_remote_computers "$peer" "$remote" 3
# A service of another kind: "banner" greets with an SSH banner and answers every line with another;
# "overlong" answers every line with one longer than a reply line may be (2 MiB). Usage: other_service MODE NAME
other_service() {
  python3 - "$1" >"$scratch/$2.out" 2>"$scratch/$2.err" <<'PYTHON' &
import socket, sys, threading
mode = sys.argv[1]
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen()
print("listening on %d" % server.getsockname()[1], flush=True)
def serve(connection):
    try:
        if mode == "banner":
            connection.sendall(b"SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n")
        while connection.recv(4096):
            connection.sendall(b"Protocol mismatch.\r\n" if mode == "banner" else b"+[1]" + b"x" * 3000000 + b"\n")
    except OSError:
        pass
while True:
    connection, _ = server.accept()
    threading.Thread(target=serve, args=(connection,), daemon=True).start()
PYTHON
  pids+=($!)
  wait_until 60 "the service $2 did not listen" grep -q '^listening on ' "$scratch/$2.out"
  remote_ports+=("$(sed -n 's/^listening on //p' "$scratch/$2.out")")
}
other_service banner banner
remote_serials+=(KVREMOTE0004)
other_service overlong overlong
remote_serials+=(KVREMOTE0005)
# A port nothing listens at: taken from the system, then let go.
remote_serials+=(KVREMOTE0006)
remote_ports+=("$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')")
# Agents that do not say which computer they serve. Usage: unnamed_agent MODE SERIAL
unnamed_agent() {
  start_peer "$peer" "$remote" "$1" 0 "$1"
  remote_serials+=("$2") remote_ports+=("$peer_port")
}
unnamed_agent no-description KVREMOTE0007
unnamed_agent no-serial-number KVREMOTE0008
unnamed_agent sleeps-at-once KVREMOTE0009
write_remote_preferences
start_ready Kelvaro kelvaro "$kelvaro"
pid=$started

failures() { grep -cE "has failed|has lost connection" "$scratch/kelvaro.err" || true; }
gauges_made() { [ "$(grep -c "sensors of '.*' added as gauges" "$scratch/kelvaro.err")" -ge 3 ]; }
wait_until 120 "gauges of the three computers that answer" gauges_made
failed_five_times() { [ "$(failures)" -ge 5 ]; }
wait_until 60 "the services of another kind, the closed port and the unnamed agents were not given up" failed_five_times
# Each named by its host and port, never by the client's address in memory.
for i in 3 4 5 6 7; do
  grep -q "The monitoring client of 127.0.0.1:${remote_ports[i]} has failed\. " "$scratch/kelvaro.err" ||
    fail "the failure at port ${remote_ports[i]} was not logged by its host and port: $(grep -E 'has failed' "$scratch/kelvaro.err")"
done
grep -qE "monitoring client (of )?0x" "$scratch/kelvaro.err" && fail "a client was named by its address: $(grep -E 'client (of )?0x' "$scratch/kelvaro.err")"
grep -q "has failed. It answers at its port, but it is no monitoring service: it did not describe its computer." "$scratch/kelvaro.err" ||
  fail "the agent without a description was given up without its reason: $(grep -E 'has failed' "$scratch/kelvaro.err")"
grep -q "has failed. It sent no serial number, by which alone it could be told apart from other computers." "$scratch/kelvaro.err" ||
  fail "the agent without a serial number was given up without its reason: $(grep -E 'has failed' "$scratch/kelvaro.err")"
slept() { grep -q "The monitored computer at 127.0.0.1:${remote_ports[8]} has entered sleep mode before it identified itself" "$scratch/kelvaro.err"; }
wait_until 60 "the agent that sleeps at once was not told asleep by its host and port" slept
[ "$(grep -c "has failed. It closed the connection or sent a reply that could not be read." "$scratch/kelvaro.err")" -eq 2 ] ||
  fail "the services of another kind were given up without their reason: $(grep -E 'has failed' "$scratch/kelvaro.err")"
grep -q "has failed. It refused the connection: no monitoring service answers at its port." "$scratch/kelvaro.err" ||
  fail "the closed port was given up without its reason: $(grep -E 'has failed' "$scratch/kelvaro.err")"

# Stopped while it is read: given up at its deadline, once; the others are read on every tick meanwhile.
declare -a before
for i in 1 2; do before[$i]=$(peer_requests "remote$i" currentRawValues); done
kill -STOP "${remote_pids[2]}"
stopped_at=$SECONDS
failed_six_times() { [ "$(failures)" -ge 6 ]; }
wait_until 60 "the stopped computer was not given up" failed_six_times
took=$((SECONDS - stopped_at))
grep -qE "(has failed|has lost connection)\. It did not answer in time\." "$scratch/kelvaro.err" ||
  fail "the stopped computer was given up without its reason: $(grep -E 'has failed|has lost' "$scratch/kelvaro.err")"
for i in 1 2; do
  read=$(( $(peer_requests "remote$i" currentRawValues) - before[i] ))
  # A reading every 2 s; one tick of slack at each end.
  [ "$read" -ge $((took / 2 - 2)) ] || fail "remote$i was read $read times in the $took s the stopped computer took to fail"
done
kill -CONT "${remote_pids[2]}"

# Read on afterwards, and no third failure, no time-out line per call.
declare -a after
for i in 1 2; do after[$i]=$(peer_requests "remote$i" currentRawValues); done
read_on() {
  local i
  for i in 1 2; do [ "$(peer_requests "remote$i" currentRawValues)" -ge $((after[i] + 3)) ] || return 1; done
}
wait_until 60 "the healthy computers were not read on" read_on
[ "$(failures)" -eq 6 ] || fail "$(failures) failures logged, not 6: $(grep -E 'has failed|has lost' "$scratch/kelvaro.err")"
[ "$(grep -c "Timeout while waiting" "$scratch/kelvaro.err" || true)" -le 1 ] || fail "time-outs logged once per call"
quit_cleanly "$pid" Kelvaro
echo "two services of another kind, a closed port, three unnamed agents and a stopped computer ($took s) failed alone, each once with its reason"
