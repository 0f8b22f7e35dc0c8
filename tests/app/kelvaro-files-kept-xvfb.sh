#!/usr/bin/env bash
# Stored files the program must not replace, nor wait on: a preferences file made read-only (mode 400, in a
# folder it could write) stays as it is, and a history file that is a FIFO neither holds up the start nor is
# replaced; each quit that could not save says why, and the next start tells the user.
# Usage (under xvfb-run -a): kelvaro-files-kept-xvfb.sh KELVARO COMPUTER
set -euo pipefail
kelvaro=$1 computer=$2
. "$(dirname "$0")/../support/session-lib.sh"

# A first session leaves its preferences; one key removed from them makes the next quit want to write.
start_ready Kelvaro kelvaro "$kelvaro"
quit_cleanly "$started" Kelvaro
prefs=$(preferences_file)
[ -s "$prefs" ] || fail "the first session wrote no preferences"
python3 - "$prefs" <<'PYTHON'
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    prefs = plistlib.load(f)
prefs.pop("ActiveRemoteConnections", None)
with open(sys.argv[1], "wb") as f:
    plistlib.dump(prefs, f)
PYTHON
chmod 400 "$prefs"
cp -p "$prefs" "$scratch/kept.plist"

history="$XDG_DATA_HOME/Kelvaro/SensorHistory.tevshf"
rm -f "$history"
mkfifo "$history"

# Ready with its sensors although nobody writes into the FIFO.
start_ready Kelvaro kelvaro "$kelvaro"
grep -q "^Kelvaro: monitoring '.*' with [1-9][0-9]* sensors" "$scratch/kelvaro.err" || fail "no sensors monitored"
quit_cleanly "$started" Kelvaro
cmp -s "$prefs" "$scratch/kept.plist" || fail "the read-only preferences were changed"
[ "$(stat -c %a "$prefs")" = 400 ] || fail "the read-only preferences are now mode $(stat -c %a "$prefs")"
[ -p "$history" ] || fail "the history FIFO was replaced"
grep -q "is read-only" "$scratch/kelvaro.err" || fail "the quit did not say the preferences are read-only"
grep -q "the next start tells: The settings could not be saved .*is read-only" "$scratch/kelvaro.err" &&
  grep -q "^The sensor histories could not be saved: .*it is a FIFO, not a file" "$scratch/kelvaro.err" ||
  fail "the quit kept no notice of what it could not save"

start_ready Kelvaro kelvaro "$kelvaro"
wait_until 60 "the notice of the files not saved" grep -q "told the user: .*is read-only.*it is a FIFO, not a file" "$scratch/kelvaro.err"
quit_cleanly "$started" Kelvaro
cmp -s "$prefs" "$scratch/kept.plist" || fail "the read-only preferences were changed by the last session"
[ -p "$history" ] || fail "the history FIFO was replaced by the last session"
echo "Kelvaro kept a read-only preferences file and a FIFO in place of its history, and told the user so"
