#!/usr/bin/env bash
# The windows open at the last quit come back: a run quit with the sensor window, the system information and
# the extreme values open records those three, and the next start opens exactly those three again.
# Usage (under xvfb-run -a): kelvaro-reopen-xvfb.sh KELVARO COMPUTER
set -euo pipefail
kelvaro=$1 computer=$2
. "$(dirname "$0")/../support/session-lib.sh"
command -v xwininfo >/dev/null || { echo "SKIP: xwininfo is not installed"; exit 77; }
domain=$(preferences_file)

# One run: start, wait until ready and the windows are up, list the shown windows into $1, quit.
run() {
  start_ready Kelvaro kelvaro "$kelvaro"
  pid=$started
  sleep 2
  # Viewable top-level windows of the program with a title, tray icons left out.
  xwininfo -root -children | sed -n 's/^ *\(0x[0-9a-f]*\) "\(.*\)": ("Kelvaro" "Kelvaro").*/\1 \2/p' |
    while read -r id title; do
      xwininfo -id "$id" | grep -q 'Map State: IsViewable' && [ "$title" != Kelvaro ] && echo "${title%% - *}"
    done | sort >"$1"
  quit_cleanly "$pid" Kelvaro
}

run "$scratch/first"
[ -f "$domain" ] || fail "no preferences written"
# The next run opens the sensor window, the system information and the extreme values, and nothing else.
python3 - "$domain" <<'PYTHON'
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    data = f.read()
prefs = plistlib.loads(data)
for key in ("SensorWindowOpen", "FloatingWindowOpen", "OverviewOpen", "SystemInfoOpen", "BatteryInfoOpen",
            "HistoryWindowsOpen", "ExtremeValuesWindowOpen", "DisplayInfoOpen"):
    prefs[key] = key in ("SensorWindowOpen", "SystemInfoOpen", "ExtremeValuesWindowOpen")
with open(sys.argv[1], "wb") as f:
    plistlib.dump(prefs, f, fmt=plistlib.FMT_BINARY if data.startswith(b"bplist") else plistlib.FMT_XML)
PYTHON
run "$scratch/second"
run "$scratch/third"
[ "$(wc -l <"$scratch/second")" -eq 3 ] || fail "three windows expected, shown: $(tr '\n' ';' <"$scratch/second")"
cmp -s "$scratch/second" "$scratch/third" ||
  fail "quit with $(tr '\n' ';' <"$scratch/second") open, reopened $(tr '\n' ';' <"$scratch/third")"
echo "reopened: $(tr '\n' ';' <"$scratch/third")"
