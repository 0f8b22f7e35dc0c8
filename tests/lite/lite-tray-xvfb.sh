#!/usr/bin/env bash
# Kelvaro and KelvaroLite at once on one simulated computer, on a virtual X server with a real tray host
# (trayer) that starts 12 s after them: both dock three icons; when Kelvaro quits and writes its preferences,
# Lite shows its notice and its three icons stay, in the title's order; either click opens Lite's menu; a
# restarted tray host shows them again; Lite's quit leaves Kelvaro's preferences as Kelvaro wrote them.
# Usage (under xvfb-run -a): lite-tray-xvfb.sh KELVARO KELVAROLITE COMPUTER [SCREENSHOT]
set -euo pipefail
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  exec dbus-run-session -- "$0" "$@"
fi
kelvaro=$1 lite=$2 computer=$3 keep=${4:-}
. "$(dirname "$0")/../support/session-lib.sh"
need_tools trayer import xwininfo xdotool
. "$(dirname "$0")/../support/tray-xvfb-lib.sh"
prefs=$(preferences_file)

# A first run of Kelvaro writes the computer's preferences; then both programs show three values.
first_run_with_coloured_values "$kelvaro"

# Both start before the tray host, which comes 12 s later, as it may at login.
start kelvaro "$kelvaro"
kelvaro_pid=$started
start lite "$lite"
lite_pid=$started
started=$SECONDS
wait_ready "$kelvaro_pid" "$scratch/kelvaro.err" Kelvaro
wait_ready "$lite_pid" "$scratch/lite.err" KelvaroLite
sleep $((12 - (SECONDS - started) > 0 ? 12 - (SECONDS - started) : 0))
start_tray_host
wait_tray_icons 6

# Kelvaro's quit writes its preferences and announces it: Lite shows its notice and keeps its icons.
quit_cleanly "$kelvaro_pid" Kelvaro
written=$(sha256sum "$prefs")
notice_shown() { xwininfo -root -tree | grep '"Kelvaro": (' >/dev/null; }
wait_until 30 "Lite showed no preference notice" notice_shown
wait_tray_icons 3 red green blue
[ -z "$keep" ] || cp "$scratch/tray.png" "$keep"

# Either button opens Lite's menu; a restarted tray host gets its icons again, in the same order.
expect_either_button_opens_the_menu
stop_tray_host
start_tray_host
wait_tray_icons 3 red green blue

quit_cleanly "$lite_pid" KelvaroLite
[ "$(sha256sum "$prefs")" = "$written" ] || fail "KelvaroLite changed Kelvaro's preferences"
grep -q "Internal bundle identification error" "$scratch/lite.err" && fail "Lite did not know its domain"
echo "both programs in a late and a restarted tray, Lite's icons in the title's order, either click opens its menu; Lite's notice shown; Kelvaro's preferences untouched by Lite"
