#!/usr/bin/env bash
# Remote computers stay monitored: Kelvaro, on a virtual X server of its own, connects COUNT remote computers
# at its start (the test peer, one process each over loopback TCP, each a copy of REMOTE-COMPUTER with a serial
# number of its own) and keeps them past three call deadlines. Right after their gauges are made, the
# controller sends each computer a burst of commands (one per gauge): every one must be answered, so no call
# runs into its time-out. The computers are still read in the last ticks, no time-out or loss is logged, and at
# the quit every remote gauge has a value.
# Usage: kelvaro-remote-computers-stay-xvfb.sh KELVARO PEER COMPUTER REMOTE-COMPUTER COUNT
set -euo pipefail
kelvaro=$1 peer=$2 computer=$3 remote=$4 count=$5
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/remote-peers-lib.sh"

# Three call deadlines of 10 s, and a margin.
stay=35

start_x_server 1280x800
start_remote_computers "$peer" "$remote" "$count"
write_remote_preferences
start_ready Kelvaro kelvaro "$kelvaro" --print-output-cache
pid=$started

gauges_made() { [ "$(grep -c "sensors of '.*' added as gauges" "$scratch/kelvaro.err")" -ge "$count" ]; }
wait_until 120 "gauges of $count remote computers" gauges_made
made_at=$SECONDS

lost() { grep -E "Timeout while waiting|has lost connection|has failed|Lost connection" "$scratch/kelvaro.err"; }
# The run must last past the deadlines of the first commands; what is looked at meanwhile is the log.
while [ $((SECONDS - made_at)) -lt "$stay" ]; do
  kill -0 "$pid" 2>/dev/null || fail "Kelvaro ended while monitoring its remote computers"
  lost >/dev/null && fail "a remote computer was given up: $(lost | head -n 3)"
  sleep 1
done

# The last ticks: every computer is read again after the deadlines.
declare -a read_before
for i in $(seq 1 "$count"); do read_before[$i]=$(peer_requests "remote$i" currentRawValues); done
read_again() {
  local i
  for i in $(seq 1 "$count"); do
    [ "$(peer_requests "remote$i" currentRawValues)" -ge $((read_before[i] + 2)) ] || return 1
  done
}
wait_until 60 "every remote computer read twice after $stay s" read_again
lost >/dev/null && fail "a remote computer was given up: $(lost | head -n 3)"

quit_cleanly "$pid" Kelvaro
for serial in "${remote_serials[@]}"; do
  gauges=$(grep -c "^remote\.$serial\." "$scratch/kelvaro.out" || true)
  valued=$(grep -cP "^remote\.$serial\.[^\t]*\t[^\t]+\t" "$scratch/kelvaro.out" || true)
  [ "$gauges" -gt 0 ] || fail "no gauge of $serial at the quit"
  [ "$valued" -gt 0 ] || fail "none of the $gauges gauges of $serial has a value at the quit"
done
echo "$count remote computers stayed monitored for $((SECONDS - made_at)) s, read to the end"
