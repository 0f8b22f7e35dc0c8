#!/usr/bin/env bash
# A user's first minutes with the overview, with no window manager on a 1600x1000 screen: the colours question
# answered Yes, the preference window's colour choice changed twice and closed with Ctrl+W, the overview's details
# panel opened on one row, left open for some ticks, closed with Escape and opened on another row. Every window
# keeps its X window through it, and the Window menu then opens the overview, the system information and the
# extreme values, and they are recorded open at the quit.
# Usage: kelvaro-overview-panel-xvfb.sh KELVARO COMPUTER
set -euo pipefail
kelvaro=$1 computer=$2
. "$(dirname "$0")/../support/session-lib.sh"
need_tools xdotool xwininfo import python3
start_x_server 1600x1000
domain=$(preferences_file)

# The viewable window of the program titled PATTERN (an extended regular expression), or nothing.
window_titled() { xdotool search --all --onlyvisible --pid "$pid" --name "$1" 2>/dev/null | head -1 || true; }
has_window() { [ -n "$(window_titled "$1")" ]; }
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
not_viewable() { ! viewable "$1"; }
picture() { import -window "$1" rgb:- 2>/dev/null | md5sum; }
# True once WINDOW looks other than it did in the picture taken before (a tick drew it anew).
redrawn() { [ "$(picture "$1")" != "$2" ]; }
focused_on() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
focus() { xdotool windowfocus "$1" 2>/dev/null || true; focused_on "$1"; }
# Each X window given is still there and viewable.
windows_kept() {
  local id
  for id in "$@"; do viewable "$id" || fail "the X window $id went or was hidden (at the $step)"; done
}
# Window menu of the sensor window, the item reached by KEYS (the menu bar's first title, then Left wraps to
# the last one, Window). Usage: window_menu KEYS...
window_menu() {
  wait_until 20 "the sensor window did not take the focus" focus "$sensors"
  shown=$(shown_count)
  xdotool mousemove --window "$sensors" 20 8 click 1
  wait_until 20 "no menu opened on a click on the menu bar" menu_open
  xdotool key Left
  local key
  for key in "$@"; do sleep 0.2; xdotool key "$key"; done
}
shown_count() { xdotool search --all --onlyvisible --pid "$pid" --class Kelvaro 2>/dev/null | wc -l; }
menu_open() { [ "$(shown_count)" -gt "$shown" ]; }

start_ready Kelvaro first "$kelvaro"
quit_cleanly "$started" first

# The second start asks for the sensors' colours; answered with the key of its default button, Yes.
unset KELVARO_NONINTERACTIVE
start second "$kelvaro"
pid=$started
wait_ready "$pid" "$scratch/second.err" Kelvaro
wait_until 60 "no sensor window and overview" has_window '^Sensor Overview'
sensors=$(window_titled '^Sensors$') overview=$(window_titled '^Sensor Overview')
# The question has no title of its own (only _NET_WM_NAME): the third window.
other_window() { xdotool search --all --onlyvisible --pid "$pid" --class Kelvaro 2>/dev/null | grep -vx -e "$sensors" -e "$overview" | tail -1; }
wait_until 60 "no colours question" eval '[ -n "$(other_window)" ]'
question=$(other_window)
# A click on its text gives it the keyboard as a user's would.
xdotool mousemove --window "$question" 250 20 click 1
wait_until 20 "the question did not take the focus" focused_on "$question"
xdotool key Return
wait_until 30 "the question was not answered" not_viewable "$question"

step="preference window"
wait_until 20 "the sensor window did not take the focus" focus "$sensors"
xdotool key ctrl+comma
wait_until 60 "Ctrl+, opened no preference window" has_window '^Kelvaro Preferences: '
prefs=$(window_titled '^Kelvaro Preferences: ')
wait_until 30 "the preference window's Window pane" eval \
  'xdotool mousemove --window "$prefs" 165 50 click 1; sleep 0.3; has_window "^Kelvaro Preferences: Window$"'
# "In sensor colours", then "In one colour": each shown in the sensor window at its next tick.
for x in 252 535; do
  before=$(picture "$sensors")
  xdotool mousemove --window "$prefs" "$x" 184 click 1
  wait_until 60 "the sensor window was not drawn again after a colour choice" redrawn "$sensors" "$before"
done
xdotool key ctrl+w
wait_until 60 "Ctrl+W did not close the preference window" not_viewable "$prefs"
windows_kept "$sensors" "$overview"

step="details panel"
xdotool mousemove --window "$overview" 56 92 click --repeat 2 --delay 80 1
wait_until 60 "a double click on a row opened no details panel" has_window '^Sensor Information$'
panel=$(window_titled '^Sensor Information$')
# Left open while the ticks go on.
for tick in 1 2 3 4 5 6; do
  before=$(picture "$overview")
  wait_until 60 "the overview was not drawn again" redrawn "$overview" "$before"
  windows_kept "$sensors" "$overview" "$panel"
done
wait_until 20 "the details panel did not take the focus" focus "$panel"
xdotool key Escape
wait_until 30 "Escape did not close the details panel" not_viewable "$panel"
windows_kept "$sensors" "$overview"
xdotool mousemove --window "$overview" 56 152 click --repeat 2 --delay 80 1
wait_until 60 "a double click on a row two below opened no details panel" has_window '^Sensor Information$'
windows_kept "$sensors" "$overview"

step="Window menu"
# System Information (the seventh item from the end), then the overview closed and opened again (eighth).
window_menu Up Up Up Up Up Up Return
wait_until 60 "Window > System Information opened no window" has_window '^System Information'
wait_until 20 "the overview did not take the focus" focus "$overview"
xdotool key ctrl+w
wait_until 30 "Ctrl+W did not close the overview" not_viewable "$overview"
window_menu Up Up Up Up Up Up Up Return
wait_until 60 "Window > Overview opened no window" has_window '^Sensor Overview'
overview=$(window_titled '^Sensor Overview')
window_menu Home Down Down Down Return
wait_until 60 "Window > Extreme Values opened no window" has_window '^Extreme Values'
windows_kept "$sensors" "$overview" "$(window_titled '^System Information')" "$(window_titled '^Extreme Values')"

quit_cleanly "$pid" Kelvaro
python3 - "$domain" <<'PYTHON' || fail "the open windows were not recorded open"
import plistlib, sys
prefs = plistlib.load(open(sys.argv[1], "rb"))
closed = [key for key in ("SensorWindowOpen", "OverviewOpen", "SystemInfoOpen", "ExtremeValuesWindowOpen") if not prefs.get(key)]
print("recorded closed:", closed) if closed else None
sys.exit(1 if closed else 0)
PYTHON
echo "PASS: the overview, its details panel and the Window menu's windows kept their X windows"
