#!/usr/bin/env bash
# The windows open at the last quit come back: a run quit with the sensor window, the system information and
# the extreme values open records those three, and the next start opens exactly those three again.
# Usage (under xvfb-run -a): kelvaro-reopen-xvfb.sh KELVARO COMPUTER
set -euo pipefail
kelvaro=$1 computer=$2
here=$(cd "$(dirname "$0")" && pwd)
export LSAN_OPTIONS=suppressions=$here/../lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}
command -v xwininfo >/dev/null || { echo "SKIP: xwininfo is not installed"; exit 77; }

scratch=$(mktemp -d)
pid=''
cleanup() {
  [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data XDG_CACHE_HOME=$scratch/cache
export XDG_RUNTIME_DIR=$scratch/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export KELVARO_NONINTERACTIVE=1
domain=$scratch/config/kelvaro/com.tarnwell.kelvaro.plist

fail() {
  echo "FAIL: $*" >&2
  cat "$scratch/err" >&2 || true
  exit 1
}

# One run: start, wait until ready and the windows are up, list the shown windows into $1, quit.
run() {
  "$kelvaro" --simulate "$computer" >/dev/null 2>"$scratch/err" &
  pid=$!
  for _ in $(seq 1 600); do
    grep -q '^Kelvaro: monitoring ' "$scratch/err" && break
    kill -0 "$pid" 2>/dev/null || fail "Kelvaro ended before it was ready"
    sleep 0.1
  done
  grep -q '^Kelvaro: monitoring ' "$scratch/err" || fail "Kelvaro was not ready within 60 s"
  sleep 2
  # Viewable top-level windows of the program with a title, tray icons left out.
  xwininfo -root -children | sed -n 's/^ *\(0x[0-9a-f]*\) "\(.*\)": ("Kelvaro" "Kelvaro").*/\1 \2/p' |
    while read -r id title; do
      xwininfo -id "$id" | grep -q 'Map State: IsViewable' && [ "$title" != Kelvaro ] && echo "${title%% - *}"
    done | sort >"$1"
  kill -TERM "$pid"
  wait "$pid" || fail "exit status $? after SIGTERM"
  pid=''
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
