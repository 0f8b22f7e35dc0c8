#!/usr/bin/env bash
# Remote computers that are monitored already: Kelvaro, on a virtual X server of its own, starts with its
# information windows open and connects three remote computers (the test peer, processes of their own over
# loopback TCP): one that is this computer (it serves the same simulated computer, so the same serial number),
# and two connections to one other computer. The computer itself and the second connection are refused, each
# with an alert that says the computer is monitored already; this computer's windows stay open and are stored
# open at the quit, and the other computer stays monitored.
# Usage: kelvaro-monitored-already-xvfb.sh KELVARO PEER COMPUTER REMOTE-COMPUTER
set -euo pipefail
kelvaro=$1 peer=$2 computer=$3 remote=$4
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/remote-peers-lib.sh"
command -v xdotool >/dev/null || { echo "SKIP: xdotool is missing"; exit 77; }

start_x_server 1600x1000
start_peer "$peer" "$computer" itself
itself_port=$peer_port
copy_computer "$remote" "$scratch/other" KVREMOTE0001
start_peer "$peer" "$scratch/other" remote1
remote1_port=$peer_port
start_peer "$peer" "$scratch/other" remote2
remote_serials=(KVREMOTE0001 KVREMOTE0002 KVREMOTEXXXX)
remote_ports=("$remote1_port" "$peer_port" "$itself_port")
windows=(OverviewOpen SystemInfoOpen BatteryInfoOpen DisplayInfoOpen)
write_remote_preferences $(printf '%s=True ' "${windows[@]}")
start_ready Kelvaro kelvaro "$kelvaro"
pid=$started

alerts() { grep -c "Computer monitored already" "$scratch/kelvaro.err" || true; }
refused_both() { [ "$(alerts)" -ge 2 ]; }
wait_until 120 "the two connections to computers monitored already were not refused" refused_both
gauges_made() { grep -q "sensors of '.*' added as gauges" "$scratch/kelvaro.err"; }
wait_until 60 "the other computer's gauges" gauges_made

# This computer's information windows are still on the screen.
name=$(sed -n "s/^Kelvaro: monitoring '\(.*\)' with .*/\1/p" "$scratch/kelvaro.err")
shown() { xdotool search --all --onlyvisible --pid "$pid" --name "$1" 2>/dev/null | head -n 1; }
for title in "Sensor Overview" "System Information" "Battery Information" "Display Information"; do
  [ -n "$(shown "^$title.*$name")" ] || fail "the $title window of '$name' was closed"
done
before=$(peer_requests remote1 currentRawValues)
read_on() { [ "$(peer_requests remote1 currentRawValues)" -ge $((before + 2)) ]; }
wait_until 60 "the other computer was not read on" read_on

quit_cleanly "$pid" Kelvaro
python3 - "$(preferences_file)" "${windows[@]}" <<'PYTHON' || fail "the information windows were stored closed"
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    prefs = plistlib.load(f)
closed = [key for key in sys.argv[2:] if prefs.get(key) is not True]
if closed:
    print("stored closed: " + ", ".join(closed), file=sys.stderr)
    sys.exit(1)
PYTHON
echo "two connections to computers monitored already were refused with an alert; this computer's windows stayed open"
