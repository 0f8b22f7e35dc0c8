#!/usr/bin/env bash
# A quit before the local computer is ready keeps the window choice of the last session: SIGTERM 0.3 s and
# 0.8 s after start leaves "SensorWindowOpen" and "OverviewOpen" as they were stored (and "FloatingWindowOpen",
# stored as NO, too).
# Usage (under xvfb-run -a): kelvaro-early-quit-xvfb.sh KELVARO COMPUTER
set -euo pipefail
kelvaro=$1 computer=$2
here=$(cd "$(dirname "$0")" && pwd)
export LSAN_OPTIONS=suppressions=$here/../lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}
export KELVARO_NONINTERACTIVE=1
unset KELVARO_SIMULATED_COMPUTER KELVARO_PRINT_OUTPUT_CACHE

scratch=$(mktemp -d)
pid=''
cleanup() {
  [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  cat "$scratch/err" >&2 || true
  exit 1
}

for delay in 0.3 0.8; do
  home=$scratch/home-$delay
  mkdir -p "$home/.config/kelvaro"
  mkdir -m 700 "$home/runtime"
  export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share XDG_CACHE_HOME=$home/.cache
  export XDG_RUNTIME_DIR=$home/runtime
  domain=$XDG_CONFIG_HOME/kelvaro/com.tarnwell.kelvaro.plist
  python3 - "$domain" <<'PYTHON'
import plistlib, sys
with open(sys.argv[1], "wb") as f:
    plistlib.dump({"PreferencesVersion": 3, "SensorWindowOpen": True, "OverviewOpen": True,
                   "FloatingWindowOpen": False}, f)
PYTHON
  "$kelvaro" --simulate "$computer" >/dev/null 2>"$scratch/err" &
  pid=$!
  sleep "$delay"
  kill -0 "$pid" 2>/dev/null || fail "Kelvaro ended by itself within $delay s"
  kill -TERM "$pid"
  status=0
  wait "$pid" || status=$?
  pid=''
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
  echo "quit at $delay s (status $status, $(grep -c 'monitoring ' "$scratch/err" || true) ready lines): window choice kept"
done
