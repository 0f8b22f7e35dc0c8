#!/usr/bin/env bash
# The Combine History Windows panel with no window manager on a 1600x1000 screen: opened from the Window menu
# it takes the keyboard, Escape closes it, Ctrl+W closes it, and Window > Close History Windows takes it
# with the last history window.
# Usage: kelvaro-combine-panel-xvfb.sh KELVARO COMPUTER
set -euo pipefail
kelvaro=$1 computer=$2
. "$(dirname "$0")/../support/session-lib.sh"
need_tools xdotool xwininfo
start_x_server 1600x1000

# The viewable window of the program titled PATTERN (an extended regular expression), or nothing.
window_titled() { xdotool search --all --onlyvisible --pid "$pid" --name "$1" 2>/dev/null | head -1 || true; }
has_window() { [ -n "$(window_titled "$1")" ]; }
no_window() { [ -z "$(window_titled "$1")" ]; }
focused_on() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
focus() { xdotool windowfocus "$1" 2>/dev/null || true; focused_on "$1"; }
shown_count() { xdotool search --all --onlyvisible --pid "$pid" --class Kelvaro 2>/dev/null | wc -l; }
menu_open() { [ "$(shown_count)" -gt "$shown" ]; }
# The sensor window's Window menu (the menu bar's first title, then Left wraps to the last one), its first
# item, then KEYS. Usage: window_menu KEYS...
window_menu() {
  wait_until 20 "the sensor window did not take the focus" focus "$sensors"
  shown=$(shown_count)
  xdotool mousemove --window "$sensors" 20 8 click 1
  wait_until 20 "no menu opened on a click on the menu bar" menu_open
  xdotool key Left
  local key
  for key in Home "$@"; do sleep 0.2; xdotool key "$key"; done
}
combine() { window_menu Down Down Down Down Down Down Return; }
close_history_windows() { window_menu Down Down Down Down Down Return; }
# The panel opens and takes the keyboard by itself: no window manager hands it out.
open_panel() {
  combine
  wait_until 30 "Window > Combine History Windows... opened no panel" has_window '^Combine History Windows$'
  panel=$(window_titled '^Combine History Windows$')
  wait_until 20 "the panel did not take the keyboard" focused_on "$panel"
}

start_ready Kelvaro first "$kelvaro"
pid=$started
wait_until 60 "no sensor window" has_window '^Sensors$'
sensors=$(window_titled '^Sensors$')
wait_until 20 "the sensor window did not take the focus" focus "$sensors"
xdotool key ctrl+h
wait_until 60 "Ctrl+H opened no temperature history window" has_window '^Temperature Sensors$'

open_panel
xdotool key Escape
wait_until 30 "Escape did not close the panel" no_window '^Combine History Windows$'
open_panel
xdotool key ctrl+w
wait_until 30 "Ctrl+W did not close the panel" no_window '^Combine History Windows$'
open_panel
close_history_windows
wait_until 30 "Window > Close History Windows left a history window" no_window ' Sensors$'
wait_until 30 "the panel stayed open with no history window left" no_window '^Combine History Windows$'
has_window '^Sensors$' || fail "the sensor window went with the history windows"

quit_cleanly "$pid" Kelvaro
echo "PASS: the Combine History Windows panel closes on Escape, on Ctrl+W and with the last history window"
