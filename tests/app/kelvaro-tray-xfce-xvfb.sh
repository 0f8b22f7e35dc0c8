#!/usr/bin/env bash
# The tray in a real XFCE panel (xfce4-panel's tray: a StatusNotifierWatcher and host) on a virtual X server:
# Kelvaro on a simulated computer, its tray's value count changed from the Display menu 1 -> 3 -> 2 -> 3, shows
# that many drawn icons in the title's order each time; either button opens the menu the panel shows; with the
# panel stopped (SIGSTOP) a change of the count and the program's own answers go on, and the panel continued
# shows them; a restarted panel gets the icons again in order; one killed as at a logout leaves Kelvaro
# running; it quits with status 0 (a sanitizer build ends otherwise on any fault found).
# Usage (under xvfb-run -a): kelvaro-tray-xfce-xvfb.sh KELVARO COMPUTER [SCREENSHOT-DIR]
set -euo pipefail
# A session bus of its own: the tray's watcher is one per bus.
if [ -z "${KELVARO_TRAY_BUS:-}" ]; then
  KELVARO_TRAY_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
kelvaro=$1 computer=$2 keep=${3:-}
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/tray-xvfb-lib.sh"
. "$(dirname "$0")/../support/xfce-panel-lib.sh"
prepare_xfce_session
shot() { [ -z "$keep" ] || cp "$scratch/tray.png" "$keep/$1.png"; }

# A first run writes the preferences of the computer; the next one starts with one value, in red.
first_run_with_coloured_values "$kelvaro" 1

start_xfce_panel
start_ready Kelvaro kelvaro "$kelvaro"
pid=$started
wait_tray_icons 1 red
shot xfce-1

# The value count changed at run time, as the Display menu does.
pick_menu_bar_values "$pid" 3
wait_tray_icons 3 red green blue
shot xfce-3
[ "$(active_colours "$pid")" != "" ] || fail "the watcher lists no item of Kelvaro"
tray_items "$pid" | awk '$2 == "Active" && ($4 != "True" || $5 == "/NO_DBUSMENU") { bad = 1 } END { exit !bad }' \
  && fail "an item of Kelvaro is no menu: $(tray_items "$pid")"
expect_either_button_opens_the_menu
pick_menu_bar_values "$pid" 2
wait_tray_icons 2 red green
shot xfce-2
pick_menu_bar_values "$pid" 3
wait_tray_icons 3 red green blue

# A stopped panel holds nothing: the count changes and Kelvaro answers a host's reading of its icons.
signal_xfce_panel STOP
pick_menu_bar_values "$pid" 2
two_active() { [ "$(active_colours "$pid" own | wc -w)" = 2 ]; }
wait_until 60 "Kelvaro did not show two values with the panel stopped: $(tray_items "$pid" own)" two_active
signal_xfce_panel CONT
wait_tray_icons 2 red green
pick_menu_bar_values "$pid" 3
wait_tray_icons 3 red green blue

# A restarted panel gets the icons again, in order.
stop_xfce_panel TERM
start_xfce_panel
wait_tray_icons 3 red green blue
shot xfce-restarted

# The panel killed as at a logout: Kelvaro hides its icons, changes its count and keeps running; a panel that
# comes again shows the one icon left.
stop_xfce_panel KILL
pick_menu_bar_values "$pid" 1
none_active() { [ -n "$(tray_items "$pid" own)" ] && [ -z "$(active_colours "$pid" own)" ]; }
wait_until 60 "Kelvaro did not hide its icons with the panel gone: $(tray_items "$pid" own)" none_active
start_xfce_panel
wait_tray_icons 1 red
quit_cleanly "$pid" Kelvaro
echo "1, 3, 2 and 3 icons in the title's order in the XFCE panel; either click opens the menu; a stopped, a restarted and a killed panel survived"
