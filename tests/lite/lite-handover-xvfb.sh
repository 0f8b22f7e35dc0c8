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
need_tools trayer xdotool
. "$(dirname "$0")/../support/tray-xvfb-lib.sh"
[ "$mode" = bus ] || export DBUS_SESSION_BUS_ADDRESS=unix:path=$scratch/no-bus

start_tray_host

start_ready Kelvaro kelvaro "$kelvaro"
kelvaro_pid=$started
start_ready KelvaroLite lite "$lite"
lite_pid=$started

launch_kelvaro_from_lite "$lite_pid"
ended_cleanly "$lite_pid" Lite
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
launch_lite_from_kelvaro "$kelvaro_pid"
wait_until 60 "the Lite started by Kelvaro did not hand over" \
  grep -q "^KelvaroLite: runs already (process $lite_pid)" "$scratch/kelvaro.err"
wait_until 30 "one Lite was not left" running_copies KelvaroLite 1
[ "$(running Kelvaro)" = 0 ] || fail "Kelvaro still runs"

quit_cleanly "$lite_pid" Lite
echo "Lite handed over to the running Kelvaro and Kelvaro to the running Lite ($mode); one copy was left each time"
