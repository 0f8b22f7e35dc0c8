#!/usr/bin/env bash
# Sleep and wake with remote computers: Kelvaro, on a virtual X server of its own, monitors two remote computers
# (the test peer, processes of their own over loopback TCP) and a fake login manager on a system bus of its own
# announces a sleep and then the wake. Kelvaro says so in its log, lets the sleep go on only after the remote
# computers are disconnected, and after the wake reconnects every one of them, logs their gauges again and
# reads their values again, without a failure or an alert.
# Usage: kelvaro-sleep-wake-xvfb.sh KELVARO PEER FAKE-LOGIND COMPUTER REMOTE-COMPUTER
set -euo pipefail
kelvaro=$1 peer=$2 logind=$3 computer=$4 remote=$5
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/remote-peers-lib.sh"
command -v dbus-daemon >/dev/null || { echo "SKIP: dbus-daemon is missing"; exit 77; }

mkfifo "$scratch/login.in"
"$logind" <"$scratch/login.in" >"$scratch/login.out" 2>"$scratch/login.err" &
pids+=($!)
exec {login}>"$scratch/login.in"
wait_until 60 "the fake login manager did not serve" grep -q '^bus ' "$scratch/login.out"
export DBUS_SYSTEM_BUS_ADDRESS=$(sed -n 's/^bus //p' "$scratch/login.out")

start_x_server 1280x800
start_remote_computers "$peer" "$remote" 2
write_remote_preferences
start_ready Kelvaro kelvaro "$kelvaro"
pid=$started
gauges() { grep -c "sensors of '.*' added as gauges" "$scratch/kelvaro.err" || true; }
gauges_made() { [ "$(gauges)" -ge 2 ]; }
wait_until 120 "gauges of both remote computers" gauges_made
grep -q "could not register for power event notifications" "$scratch/kelvaro.err" && fail "Kelvaro did not find the login manager"

echo sleep >&"$login"
wait_until 60 "Kelvaro did not let the sleep go on" grep -q '^slept$' "$scratch/login.out"
grep -q "The system goes to sleep: 2 remote computers are disconnected." "$scratch/kelvaro.err" ||
  fail "the sleep was not logged"
declare -a before
for i in 1 2; do before[$i]=$(peer_requests "remote$i" currentRawValues); done

echo wake >&"$login"
wait_until 60 "the wake was not logged" grep -q "The system has woken: 2 remote computers are reconnected in 8 s." "$scratch/kelvaro.err"
wait_until 60 "the reconnection was not logged" grep -q "Reconnecting 2 remote computers after the wake." "$scratch/kelvaro.err"
gauges_again() { [ "$(gauges)" -ge 4 ]; }
wait_until 120 "both computers' gauges after the wake" gauges_again
read_again() {
  local i
  for i in 1 2; do [ "$(peer_requests "remote$i" currentRawValues)" -ge $((before[i] + 2)) ] || return 1; done
}
wait_until 60 "both computers read after the wake" read_again
grep -E "has failed|has lost connection|Timeout while waiting|Lost connection" "$scratch/kelvaro.err" &&
  fail "a remote computer failed around the sleep"
quit_cleanly "$pid" Kelvaro
echo "both remote computers were disconnected for the sleep and reconnected and read after the wake"
