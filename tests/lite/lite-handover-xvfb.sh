#!/usr/bin/env bash
# Lite's "Launch Kelvaro and Quit Lite Version", chosen in its tray menu (trayer as the tray host) while
# Kelvaro runs: Lite ends, the Kelvaro it started hands over to the running one, and one Kelvaro is left. Then
# the reverse: Kelvaro's "Launch Kelvaro Lite" while Lite runs leaves one Lite and no Kelvaro.
# "bus": on a session bus of its own; "nobus": the bus address leads nowhere.
# Usage (under xvfb-run -a): lite-handover-xvfb.sh KELVARO KELVAROLITE COMPUTER bus|nobus
set -euo pipefail
kelvaro=$1 lite=$2 computer=$3 mode=$4
if [ "$mode" = bus ] && [ -z "${KELVARO_TEST_OWN_BUS:-}" ]; then
  KELVARO_TEST_OWN_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
. "$(dirname "$0")/../support/session-lib.sh"
command -v trayer >/dev/null && command -v xdotool >/dev/null || { echo "trayer or xdotool missing"; exit 77; }
. "$(dirname "$0")/../support/tray-xvfb-lib.sh"
[ "$mode" = bus ] || export DBUS_SESSION_BUS_ADDRESS=unix:path=$scratch/no-bus

# Opens a menu with a click and waits until it is on screen; $menu is its window. Keys are sent to that
# window, not typed: the menu takes the keyboard only a moment after it is shown, later on a busy machine.
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

start_tray_host

start_ready Kelvaro kelvaro "$kelvaro"
kelvaro_pid=$started
start_ready KelvaroLite lite "$lite"
lite_pid=$started

# Lite's tray menu, opened on one of its icons; its last two commands are the launch and the quit.
lite_icon() { icon=$(xdotool search --pid "$lite_pid" --class KelvaroLite 2>/dev/null | head -1) && [ -n "$icon" ]; }
wait_until 30 "Lite shows no tray icon" lite_icon
open_menu "$lite_pid" "$icon" 8 8 3
xdotool key --window "$menu" Up Up Return

status=0
wait_until 60 "Lite did not quit on its menu's launch command" ended "$lite_pid"
wait "$lite_pid" || status=$?
forget "$lite_pid"
[ "$status" -eq 0 ] || fail "Lite ended with status $status"
# The Kelvaro that Lite started writes to Lite's standard error.
wait_until 60 "the Kelvaro started by Lite did not hand over" \
  grep -q "^Kelvaro: runs already (process $kelvaro_pid)" "$scratch/lite.err"
running_copies() { [ "$(running "$1")" = "$2" ]; }
wait_until 30 "one Kelvaro was not left" running_copies Kelvaro 1
[ "$(running KelvaroLite)" = 0 ] || fail "Lite still runs"
grep -q '^Kelvaro: another start asked for the windows' "$scratch/kelvaro.err" || fail "the running Kelvaro was not asked"

# The reverse, from the application menu of Kelvaro's sensor overview: Kelvaro > Launch Kelvaro Lite.
start_ready KelvaroLite lite2 "$lite"
lite_pid=$started
overview=$(xdotool search --name '^Sensor Overview' | head -1) || true
[ -n "$overview" ] || fail "Kelvaro shows no sensor overview"
# Windows cascade over one another: the overview's menu bar must be on top where the click goes (without a
# window manager the server raises it at once, before the click that follows).
xdotool windowraise "$overview"
open_menu "$kelvaro_pid" "$overview" 30 8 1
# From the bottom of the menu: Quit, then the launch above it.
xdotool key --window "$menu" Up Up Return
wait_until 60 "Kelvaro did not quit on its menu's launch command" ended "$kelvaro_pid"
status=0
wait "$kelvaro_pid" || status=$?
forget "$kelvaro_pid"
[ "$status" -eq 0 ] || fail "Kelvaro ended with status $status"
wait_until 60 "the Lite started by Kelvaro did not hand over" \
  grep -q "^KelvaroLite: runs already (process $lite_pid)" "$scratch/kelvaro.err"
wait_until 30 "one Lite was not left" running_copies KelvaroLite 1
[ "$(running Kelvaro)" = 0 ] || fail "Kelvaro still runs"

quit_cleanly "$lite_pid" Lite
echo "Lite handed over to the running Kelvaro and Kelvaro to the running Lite ($mode); one copy was left each time"
