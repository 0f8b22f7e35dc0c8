#!/usr/bin/env bash
# The windows open at the last quit come back: a run quit with the sensor window, the system information and
# the extreme values open records those three, and the next start opens exactly those three again.
# Usage (under xvfb-run -a): kelvaro-reopen-xvfb.sh KELVARO COMPUTER
set -euo pipefail
kelvaro=$1 computer=$2
. "$(dirname "$0")/../support/session-lib.sh"
command -v xwininfo >/dev/null || { echo "SKIP: xwininfo is not installed"; exit 77; }
domain=$(preferences_file)

# The viewable top-level windows of the program with a title, tray icons left out, into FILE; true when
# there are at least COUNT. Usage: shown_windows FILE COUNT
shown_windows() {
  xwininfo -root -children | sed -n 's/^ *\(0x[0-9a-f]*\) "\(.*\)": ("Kelvaro" "Kelvaro").*/\1 \2/p' |
    while read -r id title; do
      xwininfo -id "$id" 2>/dev/null | grep 'Map State: IsViewable' >/dev/null && [ "$title" != Kelvaro ] && echo "${title%% - *}"
    done | sort >"$1"
  [ "$(wc -l <"$1")" -ge "$2" ]
}

# One run: start, wait until ready and COUNT windows are on screen, list the shown windows into FILE, quit.
# The program shows the windows of the last quit before it says it monitors; the X server maps them soon
# after. Usage: run FILE COUNT
run() {
  start_ready Kelvaro kelvaro "$kelvaro"
  pid=$started
  wait_until 30 "$2 windows were not shown" shown_windows "$1" "$2"
  quit_cleanly "$pid" Kelvaro
}

# The first run only writes the preferences: what it shows is not checked.
run "$scratch/first" 0
[ -f "$domain" ] || fail "no preferences written"
# The next run opens the sensor window, the system information and the extreme values, and nothing else.
open_at_next_start SensorWindowOpen SystemInfoOpen ExtremeValuesWindowOpen
run "$scratch/second" 3
run "$scratch/third" 3
[ "$(wc -l <"$scratch/second")" -eq 3 ] || fail "three windows expected, shown: $(tr '\n' ';' <"$scratch/second")"
cmp -s "$scratch/second" "$scratch/third" ||
  fail "quit with $(tr '\n' ';' <"$scratch/second") open, reopened $(tr '\n' ';' <"$scratch/third")"
echo "reopened: $(tr '\n' ';' <"$scratch/third")"
