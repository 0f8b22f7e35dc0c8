#!/usr/bin/env bash
# A quit before the local computer is ready keeps the window choice of the last session: SIGTERM 0.3 s and
# 0.8 s after start leaves "SensorWindowOpen" and "OverviewOpen" as they were stored (and "FloatingWindowOpen",
# stored as NO, too).
# Usage (under xvfb-run -a): kelvaro-early-quit-xvfb.sh KELVARO COMPUTER
set -euo pipefail
kelvaro=$1 computer=$2
. "$(dirname "$0")/../support/session-lib.sh"

for delay in 0.3 0.8; do
  use_folders "$scratch/$delay"
  domain=$(preferences_file)
  mkdir -p "$(dirname "$domain")"
  python3 - "$domain" <<'PYTHON'
import plistlib, sys
with open(sys.argv[1], "wb") as f:
    plistlib.dump({"PreferencesVersion": 3, "SensorWindowOpen": True, "OverviewOpen": True,
                   "FloatingWindowOpen": False}, f)
PYTHON
  start kelvaro "$kelvaro"
  pid=$started
  sleep "$delay"
  kill -0 "$pid" 2>/dev/null || fail "Kelvaro ended by itself within $delay s"
  kill -TERM "$pid"
  status=0
  wait "$pid" || status=$?
  forget "$pid"
  # 143: the signal came before the program watched for it (a slow sanitizer build), which ends it unsaved.
  [ "$status" -eq 0 ] || [ "$status" -eq 143 ] || fail "exit status $status after SIGTERM at $delay s"
  python3 - "$domain" <<'PYTHON' || fail "quit at $delay s changed the stored window choice"
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    prefs = plistlib.load(f)
wanted = {"SensorWindowOpen": True, "OverviewOpen": True, "FloatingWindowOpen": False}
found = {key: prefs.get(key) for key in wanted}
if found != wanted:
    sys.exit(f"stored {found}, expected {wanted}")
PYTHON
  echo "quit at $delay s (status $status, $(grep -c 'monitoring ' "$scratch/kelvaro.err" || true) ready lines): window choice kept"
done
