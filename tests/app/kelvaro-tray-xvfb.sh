#!/usr/bin/env bash
# The tray on a virtual X server with a real tray host (trayer): Kelvaro on a simulated computer, set to show
# three values in the tray, docks three drawn icons in the title's order when the tray host starts 12 s after
# it, and again when the host restarts; a left click opens the same menu as a right click.
# Usage (under xvfb-run -a): kelvaro-tray-xvfb.sh KELVARO COMPUTER [SCREENSHOT]
set -euo pipefail
kelvaro=$1 computer=$2 keep=${3:-}
. "$(dirname "$0")/../support/session-lib.sh"
need_tools trayer import xdotool
. "$(dirname "$0")/../support/tray-xvfb-lib.sh"

# A first run writes the preferences of the computer; the next ones show three values in the tray.
first_run_with_coloured_values "$kelvaro"

# At login the tray host often comes after the program: here 12 s after it.
start kelvaro "$kelvaro"
pid=$started
started=$SECONDS
wait_ready "$pid" "$scratch/kelvaro.err" Kelvaro
sleep $((12 - (SECONDS - started) > 0 ? 12 - (SECONDS - started) : 0))
start_tray_host
wait_tray_icons 3 red green blue
[ -z "$keep" ] || cp "$scratch/tray.png" "$keep"

# Either button opens the menu.
expect_either_button_opens_the_menu

# A restarted tray host gets the icons again, in the same order.
stop_tray_host
start_tray_host
wait_tray_icons 3 red green blue
kill -0 "$pid" || fail "Kelvaro ended"
echo "three tray icons in the title's order, shown by a late and by a restarted tray host; either click opens the menu"
