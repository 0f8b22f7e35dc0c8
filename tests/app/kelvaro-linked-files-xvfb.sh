#!/usr/bin/env bash
# A user who keeps the preferences and the histories elsewhere (a synced folder, a dotfile manager) through
# symbolic links: the preferences a relative link to a file that holds a key of the user's, the histories an
# absolute link to a file not made yet. Kelvaro runs on a virtual X server of its own and ends by END:
#   sigterm   SIGTERM once it says it is monitoring
#   display   its X server killed under it (a logout as the server sees it)
# Afterwards both links are still the links they were, and their targets hold what it wrote: the user's key
# and this computer's set, and a history file that decodes to this computer's histories.
# Usage: kelvaro-linked-files-xvfb.sh KELVARO KELVARO-DUMP COMPUTER END
set -euo pipefail
kelvaro=$1 dump=$2 computer=$3 end=$4
. "$(dirname "$0")/../support/session-lib.sh"

"$dump" --simulate "$computer" machine >"$scratch/machine.plist"
serial=$(python3 -c 'import plistlib,sys; print(plistlib.load(open(sys.argv[1],"rb"))["systemSerialNumber"])' "$scratch/machine.plist")

prefs=$(preferences_file)
history="$XDG_DATA_HOME/Kelvaro/SensorHistory.tevshf"
mkdir -p "$(dirname "$prefs")" "$(dirname "$history")" "$HOME/sync" "$HOME/dotfiles"
python3 -c 'import plistlib,sys; plistlib.dump({"PreferencesVersion": 3, "KeptInSync": "yes"}, open(sys.argv[1],"wb"))' \
  "$HOME/sync/kelvaro.plist"
cp "$HOME/sync/kelvaro.plist" "$scratch/stored.plist"
ln -s ../../sync/kelvaro.plist "$prefs"
ln -s "$HOME/dotfiles/SensorHistory.tevshf" "$history"

start_x_server 1280x800
start_ready Kelvaro kelvaro "$kelvaro"
pid=$started
case "$end" in
  sigterm)
    quit_cleanly "$pid" Kelvaro
    ;;
  display)
    kill -KILL "$x_pid"
    stop_x_server
    wait_until 60 "Kelvaro's end after its X server went away" ended "$pid"
    status=0
    wait "$pid" || status=$?
    forget "$pid"
    [ "$status" -eq 1 ] || fail "Kelvaro ended with status $status after its X server went away, not 1"
    grep -q 'saved at the display.s end: preferences written to .*; long-term histories written' "$scratch/kelvaro.err" ||
      fail "Kelvaro did not log that it saved both files at the lost display"
    ;;
  *) fail "unknown end $end" ;;
esac
# A sanitizer build reports a crash with status 1 too.
grep -q 'ERROR: AddressSanitizer\|runtime error:' "$scratch/kelvaro.err" && fail "Kelvaro crashed at its end"

[ -L "$prefs" ] || fail "the preferences link was replaced by a file"
[ "$(readlink "$prefs")" = ../../sync/kelvaro.plist ] || fail "the preferences link now leads to $(readlink "$prefs")"
[ -L "$history" ] || fail "the history link was replaced by a file"
[ "$(readlink "$history")" = "$HOME/dotfiles/SensorHistory.tevshf" ] || fail "the history link now leads to $(readlink "$history")"

cmp -s "$HOME/sync/kelvaro.plist" "$scratch/stored.plist" && fail "the preferences' target keeps its old contents"
python3 - "$serial" "$HOME/sync/kelvaro.plist" <<'PYTHON' || fail "the preferences' target does not hold the session"
import plistlib, sys
serial, path = sys.argv[1:3]
with open(path, "rb") as f:
    prefs = plistlib.load(f)
errors = []
if prefs.get("KeptInSync") != "yes":
    errors.append("the user's own key is gone")
if serial not in prefs.get("MachinePreferences", {}):
    errors.append(f"no MachinePreferences for {serial!r}: {sorted(prefs.get('MachinePreferences', {}))}")
for error in errors:
    print(error, file=sys.stderr)
sys.exit(1 if errors else 0)
PYTHON

[ -s "$HOME/dotfiles/SensorHistory.tevshf" ] || fail "no history written at the link's target"
"$dump" history "$HOME/dotfiles/SensorHistory.tevshf" >"$scratch/history.txt" 2>"$scratch/dump.err" ||
  fail "the history at the link's target does not decode"
grep -q "$serial" "$scratch/history.txt" || fail "the history at the link's target holds nothing of $serial"
# Nothing left beside the targets: no temporary file of a save.
[ "$(ls -A "$HOME/sync")" = kelvaro.plist ] || fail "beside the preferences' target: $(ls -A "$HOME/sync" | tr '\n' ' ')"
[ "$(ls -A "$HOME/dotfiles")" = SensorHistory.tevshf ] || fail "beside the history's target: $(ls -A "$HOME/dotfiles" | tr '\n' ' ')"
echo "Kelvaro ended ($end) with its preferences and history kept through links, and wrote both at their targets"
