#!/usr/bin/env bash
# Kelvaro under openbox with tint2's task bar, on a virtual X server with a session bus of its own. A first
# start places the sensor window and the overview with openbox's frames counted: each frame within the work
# area tint2 leaves, neither title bar over the other window. The next start opens the system information
# and then the extreme values without a recorded place: every title bar within the work area and clear of the
# other frames (a lower edge may leave it), and the extreme values at their own size. The screen display (Ctrl+D) stays out of tint2's task bar, takes no keyboard focus
# and lets clicks in its gaps through. With every window closed (Ctrl+W), a second start shows the sensor
# window. The two start-up alerts of a computer without sensors come one after the other. With
# KELVARO_SCREENSHOT_DIR set it keeps pictures there.
# Usage: kelvaro-openbox-tint2.sh KELVARO COMPUTER
set -euo pipefail
kelvaro=$1 computer=$2
if [ -z "${KELVARO_TEST_OWN_BUS:-}" ]; then
  command -v dbus-run-session >/dev/null || { echo "SKIP: dbus-run-session is not installed"; exit 77; }
  KELVARO_TEST_OWN_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/desktop-session-lib.sh"
need_tools openbox tint2 xprop xwininfo xdotool xev dbus-update-activation-environment
domain=$(preferences_file)

start_x_server 1280x800
share_folders_with_bus
openbox --sm-disable >"$scratch/openbox.out" 2>"$scratch/openbox.err" &
pids+=("$!")
wm_runs() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_until 30 "openbox did not start" wm_runs
tint2 >"$scratch/tint2.out" 2>"$scratch/tint2.err" &
pids+=("$!")
# tint2's panel takes its strip off the work area.
panel_reserved() { [ "$(work_area | awk '{ print $4 }')" -lt 800 ] 2>/dev/null; }
wait_until 30 "tint2's panel reserved no room" panel_reserved

# A first start: the sensor window and the overview.
start_ready Kelvaro first "$kelvaro"
pid=$started
check_frames 2 0 openbox-first-start
sensors=$(awk '$10 ~ /^Sensors/ { print $1 }' "$scratch/windows")
check_screen_display "$sensors" openbox-screen-display
quit_cleanly "$pid" Kelvaro

# The next start adds the system information and the extreme values, which have no place of their own yet.
python3 - "$domain" <<'PYTHON'
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    data = f.read()
prefs = plistlib.loads(data)
for key in ("SystemInfoOpen", "ExtremeValuesWindowOpen"):
    prefs[key] = True
with open(sys.argv[1], "wb") as f:
    plistlib.dump(prefs, f, fmt=plistlib.FMT_BINARY if data.startswith(b"bplist") else plistlib.FMT_XML)
PYTHON
start_ready Kelvaro second "$kelvaro"
pid=$started
check_frames 4 heads openbox-second-start
size=$(awk 'index($0, " Extreme Values") { print $4 "x" $5 }' "$scratch/windows")
[ "$size" = 420x360 ] || fail "the extreme values opened at $size, not at their own 420x360"

# Without a session manager: every window closed with Ctrl+W, then a second start shows the sensor window.
# One window at a time, each once active: the keys go to the window with the focus.
close_one() {
  local id
  id=$(managed_windows Kelvaro | awk '$10 != "Kelvaro" { print $1; exit }')
  [ -n "$id" ] || return 0
  focus_on "$id" && xdotool key ctrl+w
  return 1
}
wait_until 60 "Ctrl+W did not close the windows" close_one
status=0
timeout 60 "$kelvaro" --simulate "$computer" 2>"$scratch/again.err" || status=$?
[ "$status" -eq 0 ] || fail "the second start ended with status $status"
wait_until 30 "the second start showed no sensor window" window_titles Kelvaro "$scratch/titles" 1
[ "$(cat "$scratch/titles")" = Sensors ] || fail "the second start showed $(tr '\n' ';' <"$scratch/titles")"
quit_cleanly "$pid" Kelvaro

# A first start on a computer without sensors asks twice: one question after the other.
rm -rf "$XDG_CONFIG_HOME/kelvaro"
check_alerts_one_after_the_other "$(dirname "$computer")/vm" openbox-alerts
echo "openbox + tint2: frames within the work area, the extreme values whole, the screen display off the task bar," \
  "the sensor window back at a second start, the start-up alerts one after the other"
