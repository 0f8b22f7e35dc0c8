#!/usr/bin/env bash
# The hand-over Kelvaro → Kelvaro Lite → Kelvaro with remote computers connected (under xvfb-run, with trayer
# as the tray host): Kelvaro monitors two remote computers (the test peer, processes of their own over
# loopback TCP); "Launch Kelvaro Lite" in its menu ends it with status 0 and starts Lite; "Launch Kelvaro and
# Quit Lite Version" in Lite's tray menu ends Lite (which monitors them too) and starts Kelvaro, which connects
# both computers again and reads them, with no failure logged on the way.
# Usage (under xvfb-run -a): kelvaro-remote-handover-xvfb.sh KELVARO PEER COMPUTER REMOTE-COMPUTER
set -euo pipefail
kelvaro=$1 peer=$2 computer=$3 remote=$4
# A session bus of its own: the programs each start hand over to the copy that owns the bus name.
if [ -z "${KELVARO_TEST_OWN_BUS:-}" ]; then
  KELVARO_TEST_OWN_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/remote-peers-lib.sh"
need_tools trayer xdotool
. "$(dirname "$0")/../support/tray-xvfb-lib.sh"

gauges() { grep -c "sensors of '.*' added as gauges" "$scratch/kelvaro.err" || true; }
failures() { grep -E "has failed|has lost connection|Timeout while waiting|Lost connection" "$scratch/kelvaro.err"; }

start_tray_host
start_remote_computers "$peer" "$remote" 2
write_remote_preferences OverviewOpen=True
start_ready Kelvaro kelvaro "$kelvaro"
kelvaro_pid=$started
gauges_made() { [ "$(gauges)" -ge 2 ]; }
wait_until 120 "gauges of both remote computers" gauges_made

launch_lite_from_kelvaro "$kelvaro_pid"
lite_runs() { lite_pid=$(copies_of KelvaroLite) && [ -n "$lite_pid" ]; }
wait_until 60 "Kelvaro did not start Lite" lite_runs
pids+=("$lite_pid")
wait_until 120 "Lite was not ready" grep -q "^KelvaroLite: monitoring " "$scratch/kelvaro.err"

# Lite monitors the remote computers too: what follows counts from here.
gauges_made_by_lite() { [ "$(gauges)" -ge 4 ]; }
wait_until 120 "Lite did not monitor both remote computers" gauges_made_by_lite
gauges_before=$(gauges)
launch_kelvaro_from_lite "$lite_pid"
declare -a before
for i in 1 2; do before[$i]=$(peer_requests "remote$i" currentRawValues); done
kelvaro_runs() { kelvaro_pid=$(copies_of Kelvaro) && [ -n "$kelvaro_pid" ]; }
wait_until 60 "Lite did not start Kelvaro" kelvaro_runs
pids+=("$kelvaro_pid")

# The Kelvaro that Lite started (it writes where Lite and the first Kelvaro wrote) connects both again.
gauges_again() { [ "$(gauges)" -ge $((gauges_before + 2)) ]; }
wait_until 120 "gauges of both remote computers after the hand-over" gauges_again
read_again() {
  local i
  for i in 1 2; do [ "$(peer_requests "remote$i" currentRawValues)" -ge $((before[i] + 2)) ] || return 1; done
}
wait_until 60 "both remote computers read after the hand-over" read_again
failures >/dev/null && fail "a remote computer failed on the way: $(failures | head -n 3)"
kill -TERM "$kelvaro_pid"
wait_until 60 "the Kelvaro started by Lite did not end on SIGTERM" ended "$kelvaro_pid"
echo "Kelvaro handed over to Lite and Lite back to Kelvaro; both remote computers were monitored again"
