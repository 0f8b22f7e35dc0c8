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
command -v trayer >/dev/null && command -v xdotool >/dev/null || { echo "SKIP: trayer or xdotool missing"; exit 77; }
. "$(dirname "$0")/../support/tray-xvfb-lib.sh"

# Opens a menu with a click and waits until it is on screen; $menu is its window.
open_menu() { # PID WINDOW X Y BUTTON
  local before
  before=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | sort) || true
  xdotool mousemove --window "$2" "$3" "$4" click "$5"
  wait_until 30 "no menu opened" new_window_shown "$1" "$before"
}
new_window_shown() { # PID WINDOWS-BEFORE
  menu=$(comm -13 <(echo "$2") <(xdotool search --onlyvisible --pid "$1" 2>/dev/null | sort) | head -1)
  [ -n "$menu" ]
}
ended() { ! kill -0 "$1" 2>/dev/null; }
# The one copy of PROGRAM in this session. Usage: copy_of PROGRAM
copy_of() {
  local p
  for p in $(pgrep -x "$1" || true); do
    if { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qxF "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"; then
      echo "$p"
    fi
  done
}
gauges() { grep -c "sensors of '.*' added as gauges" "$scratch/kelvaro.err" || true; }
failures() { grep -E "has failed|has lost connection|Timeout while waiting|Lost connection" "$scratch/kelvaro.err"; }

start_tray_host
start_remote_computers "$peer" "$remote" 2
write_remote_preferences OverviewOpen=True
start_ready Kelvaro kelvaro "$kelvaro"
kelvaro_pid=$started
gauges_made() { [ "$(gauges)" -ge 2 ]; }
wait_until 120 "gauges of both remote computers" gauges_made

# Kelvaro > Launch Kelvaro Lite, in the sensor overview's menu bar: from the bottom, Quit, then the launch.
overview=$(xdotool search --name '^Sensor Overview' | head -1) || true
[ -n "$overview" ] || fail "Kelvaro shows no sensor overview"
xdotool windowraise "$overview"
open_menu "$kelvaro_pid" "$overview" 30 8 1
xdotool key --window "$menu" Up Up Return
wait_until 60 "Kelvaro did not quit on its menu's launch command" ended "$kelvaro_pid"
status=0
wait "$kelvaro_pid" || status=$?
forget "$kelvaro_pid"
[ "$status" -eq 0 ] || fail "Kelvaro ended with status $status"
lite_runs() { lite_pid=$(copy_of KelvaroLite) && [ -n "$lite_pid" ]; }
wait_until 60 "Kelvaro did not start Lite" lite_runs
pids+=("$lite_pid")
wait_until 120 "Lite was not ready" grep -q "^KelvaroLite: monitoring " "$scratch/kelvaro.err"

# Lite's tray menu: its last two commands are the launch and the quit.
gauges_made_by_lite() { [ "$(gauges)" -ge 4 ]; }
lite_icon() { icon=$(xdotool search --pid "$lite_pid" --class KelvaroLite 2>/dev/null | head -1) && [ -n "$icon" ]; }
# Lite monitors the remote computers too: what follows counts from here.
wait_until 120 "Lite did not monitor both remote computers" gauges_made_by_lite
gauges_before=$(gauges)
wait_until 30 "Lite shows no tray icon" lite_icon
open_menu "$lite_pid" "$icon" 8 8 3
xdotool key --window "$menu" Up Up Return
wait_until 60 "Lite did not quit on its menu's launch command" ended "$lite_pid"
declare -a before
for i in 1 2; do before[$i]=$(peer_requests "remote$i" currentRawValues); done
kelvaro_runs() { kelvaro_pid=$(copy_of Kelvaro) && [ -n "$kelvaro_pid" ]; }
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
