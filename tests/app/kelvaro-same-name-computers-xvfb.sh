#!/usr/bin/env bash
# Identical computers of one name: Kelvaro, on a virtual X server and a session bus of its own, connects three
# copies of the simulated tower (each served by the test peer as a process of its own on loopback, with a serial
# number of its own, all named "Studio Mac Pro") and opens the computers' sensor overviews from the Window menu.
# Read as a screen reader reads them (AT-SPI), each overview lists its computer's sensors once, and the titles
# tell the three apart by where each is reached. With SCREENSHOT, the screen is saved there at the end.
# Usage: kelvaro-same-name-computers-xvfb.sh KELVARO PEER COMPUTER REMOTE-COMPUTER [SCREENSHOT]
set -euo pipefail
# The accessibility bus is the session bus's: one of the script's own.
if [ -z "${KELVARO_OWN_SESSION_BUS:-}" ]; then
  command -v dbus-run-session >/dev/null || { echo "SKIP: dbus-run-session is not installed"; exit 77; }
  KELVARO_OWN_SESSION_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
kelvaro=$1 peer=$2 computer=$3 remote=$4 screenshot=${5:-}
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/remote-peers-lib.sh"
/usr/bin/python3 -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null ||
  { echo "SKIP: python3-gi or gir1.2-atspi-2.0 missing"; exit 77; }
accessible() { /usr/bin/python3 "$(dirname "$0")/../support/accessible-windows.py" "$@"; }
# Qt offers its widgets to assistive tools only when asked to.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

start_x_server 1600x1000
share_folders_with_bus
start_remote_computers "$peer" "$remote" 3
write_remote_preferences
open_at_next_start SensorWindowOpen
start_ready Kelvaro kelvaro "$kelvaro"
pid=$started
made() { grep -c "sensors of 'Studio Mac Pro' added as gauges" "$scratch/kelvaro.err" || true; }
wait_until 120 "gauges of the three computers named alike" eval '[ "$(made)" -ge 3 ]'
sensors=$(sed -n "s/^\([0-9]*\) sensors of 'Studio Mac Pro' added as gauges$/\1/p" "$scratch/kelvaro.err" | sort -u)
[ "$(echo "$sensors" | wc -l)" -eq 1 ] || fail "the copies of one computer got gauges of different counts: $sensors"

wait_until 60 "Window > Overview could not be pressed" accessible press Kelvaro Window Overview
# Title, rows and rows alike another, one line per overview of the three.
fail_tails+=("$scratch/overviews.txt")
each_once() {
  accessible tables Kelvaro '^Sensor Overview - Studio Mac Pro' >"$scratch/overviews.txt" || return 1
  [ "$(wc -l <"$scratch/overviews.txt")" -eq 3 ] &&
    awk -F'\t' -v n="$sensors" '$2 != n || $3 != 0 { bad = 1 } END { exit bad }' "$scratch/overviews.txt"
}
wait_until 60 "three overviews of Studio Mac Pro, each of its $sensors sensors once" each_once
for port in "${remote_ports[@]}"; do
  grep -q "^Sensor Overview - Studio Mac Pro (127\.0\.0\.1:$port)	" "$scratch/overviews.txt" ||
    fail "no overview titled by the computer at 127.0.0.1:$port"
done
[ -z "$screenshot" ] || import -window root "$screenshot"
quit_cleanly "$pid" Kelvaro
echo "three computers named alike: three overviews titled apart, each of its $sensors sensors once"
