#!/usr/bin/env bash
# Where Kelvaro's windows open in an XFCE session (xfce4-session, xfwm4 compositing, xfce4-panel) on a virtual
# X server with a session bus of its own, read from xfwm4's frames (_NET_FRAME_EXTENTS). Wherever a window
# opens, no title bar lies within another window's frame, nothing lies over the sensor window's menu bar,
# and every title bar is within the work area (a lower edge may leave it). SCENARIO:
#   menu     a first start on 1600x1000 (the sensor window as wide as the screen), then Window > System
#            Information and Window > Extreme Values
#   next     a next start on 1280x800 with five windows open (the screen display among them), three of them
#            without a place of their own
#   stored   a first start on 1600x1000 with four windows stored open
# With KELVARO_SCREENSHOT_DIR set it keeps pictures there.
# Usage: kelvaro-xfce-placement.sh KELVARO COMPUTER SCENARIO
set -euo pipefail
kelvaro=$1 computer=$2 scenario=$3
if [ -z "${KELVARO_TEST_OWN_BUS:-}" ]; then
  command -v dbus-run-session >/dev/null || { echo "SKIP: dbus-run-session is not installed"; exit 77; }
  KELVARO_TEST_OWN_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/desktop-session-lib.sh"
need_tools xfce4-session xfwm4 xfsettingsd xfce4-panel xprop xwininfo xdotool dbus-update-activation-environment

# Chooses the item COUNT up from the bottom of the Window menu of the sensor window (of PID): the menu bar's
# first menu opened with a click, the last one (Window) reached from it with the Left key. False where a menu
# did not open (a click the window manager took to give the focus, say): the caller tries again.
# Usage: window_menu_item PID SENSORS COUNT
window_menu_item() {
  local keys=() i before
  for ((i = 0; i < $3; i++)); do keys+=(Up); done
  before=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | sort) || true
  xdotool mousemove --window "$2" 30 8 click 1 2>/dev/null || return 1
  menu_within "$1" "$before" || return 1
  before=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | sort) || true
  xdotool key --window "$menu" Left 2>/dev/null || return 1
  menu_within "$1" "$before" || { xdotool key Escape; return 1; }
  xdotool key --window "$menu" "${keys[@]}" Return 2>/dev/null
}
# Whether a menu of PID not among WINDOWS-BEFORE (a window taller than a tooltip) shows within five seconds;
# $menu is its window. Usage: menu_within PID WINDOWS-BEFORE
menu_within() {
  local until=$((SECONDS + 5)) id
  while [ "$SECONDS" -lt "$until" ]; do
    for id in $(comm -13 <(echo "$2") <(xdotool search --onlyvisible --pid "$1" 2>/dev/null | sort)); do
      [ "$(xwininfo -id "$id" 2>/dev/null | awk '/Height:/ { print $2 }')" -gt 40 ] 2>/dev/null || continue
      menu=$id
      return 0
    done
    sleep 0.1
  done
  return 1
}
# The sensor window's id.
sensor_window() { managed_windows Kelvaro | awk '$10 == "Sensors" { print $1; exit }'; }

case "$scenario" in
  menu) size=1600x1000 ;;
  next) size=1280x800 ;;
  stored) size=1600x1000 ;;
  *) echo "unknown scenario $scenario" >&2; exit 2 ;;
esac
start_x_server "$size"
share_folders_with_bus
write_xfce_session_settings
xfce_login login
manager=$(xfce_session_manager)
[ -n "$manager" ] || fail "the session gives its clients no SESSION_MANAGER"

case "$scenario" in
  menu)
    SESSION_MANAGER=$manager start_ready Kelvaro first "$kelvaro"
    pid=$started
    check_frames 2 heads xfce-placement-menu-start
    sensors=$(sensor_window)
    # From the bottom of the Window menu: Connect to Remote Computer..., Connections, Displays, Batteries,
    # Drives, System Information.
    wait_until 60 "Window > System Information was not chosen" window_menu_item "$pid" "$sensors" 6
    check_frames 3 heads xfce-placement-menu-system-information
    # Extreme Values, above Open History Windows, Close History Windows, Combine History Windows..., Overview and
    # the six above.
    wait_until 60 "Window > Extreme Values was not chosen" window_menu_item "$pid" "$sensors" 11
    check_frames 4 heads xfce-placement-menu-extreme-values
    ;;
  next)
    SESSION_MANAGER=$manager start_ready Kelvaro first "$kelvaro"
    check_frames 2 0 xfce-placement-next-first
    quit_cleanly "$started" Kelvaro
    open_at_next_start SensorWindowOpen FloatingWindowOpen OverviewOpen SystemInfoOpen ExtremeValuesWindowOpen
    SESSION_MANAGER=$manager start_ready Kelvaro next "$kelvaro"
    check_frames 4 heads xfce-placement-next
    ;;
  stored)
    mkdir -p "$(dirname "$(preferences_file)")"
    python3 -c 'import plistlib, sys; plistlib.dump({"PreferencesVersion": 3, "SensorWindowOpen": True, "OverviewOpen": True,
      "SystemInfoOpen": True, "ExtremeValuesWindowOpen": True}, open(sys.argv[1], "wb"))' "$(preferences_file)"
    SESSION_MANAGER=$manager start_ready Kelvaro stored "$kelvaro"
    check_frames 4 heads xfce-placement-stored
    ;;
esac
quit_cleanly "$started" Kelvaro
echo "XFCE ($scenario): no title bar within another window's frame, the sensor window's menu bar uncovered"
