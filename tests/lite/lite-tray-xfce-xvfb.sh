#!/usr/bin/env bash
# KelvaroLite in a real XFCE panel (xfce4-panel's tray: a StatusNotifierWatcher and host) on a virtual X
# server: its wait mark gives way to three drawn icons in the title's order, either button opens the menu the
# panel shows, a stopped panel (SIGSTOP) holds no tick and the continued one shows the icons, a restarted panel
# gets them again in order, and with the panel killed as at a logout Lite keeps its ticks going and quits with
# status 0 (a sanitizer build ends otherwise on any fault found).
# Usage (under xvfb-run -a): lite-tray-xfce-xvfb.sh KELVARO KELVAROLITE COMPUTER [SCREENSHOT-DIR]
set -euo pipefail
# A session bus of its own: the tray's watcher is one per bus.
if [ -z "${KELVARO_TRAY_BUS:-}" ]; then
  KELVARO_TRAY_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
kelvaro=$1 lite=$2 computer=$3 keep=${4:-}
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/tray-xvfb-lib.sh"
. "$(dirname "$0")/../support/xfce-panel-lib.sh"
prepare_xfce_session

# Kelvaro's first run writes the computer's preferences, which Lite reads: three values.
first_run_with_coloured_values "$kelvaro"

start_xfce_panel
start_ready KelvaroLite lite "$lite"
pid=$started
wait_tray_icons 3 red green blue
[ -z "$keep" ] || cp "$scratch/tray.png" "$keep/lite-xfce.png"
expect_either_button_opens_the_menu
# The pointer off the icons: a hovered icon's button is drawn lighter.
xdotool mousemove 0 799

# Ticks go on with the panel stopped: Lite's icons answer a host's reading; the continued panel shows them.
signal_xfce_panel STOP
three_answering() { [ "$(active_colours "$pid" own | wc -w)" = 3 ]; }
wait_until 60 "Lite's icons did not answer with the panel stopped: $(tray_items "$pid" own)" three_answering
signal_xfce_panel CONT
wait_tray_icons 3 red green blue

stop_xfce_panel TERM
start_xfce_panel
wait_tray_icons 3 red green blue

# The panel killed as at a logout; Lite hides its icons and keeps running until it is told to quit.
stop_xfce_panel KILL
none_active() { [ -n "$(tray_items "$pid" own)" ] && [ -z "$(active_colours "$pid" own)" ]; }
wait_until 60 "Lite did not hide its icons with the panel gone: $(tray_items "$pid" own)" none_active
start_xfce_panel
wait_tray_icons 3 red green blue
quit_cleanly "$pid" KelvaroLite
echo "Lite's three icons in the title's order in the XFCE panel; either click opens the menu; a stopped, a restarted and a killed panel survived"
