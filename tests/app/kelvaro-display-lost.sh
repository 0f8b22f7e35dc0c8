#!/usr/bin/env bash
# A logout as the X server sees it: Kelvaro runs on a virtual X server of its own with a private HOME, and
# the server is killed under it. The display plugin ends the process; the preferences (one gauge per sensor of
# the computer) and the history file are written all the same.
# Usage: kelvaro-display-lost.sh KELVARO KELVARO-DUMP COMPUTER
set -euo pipefail
kelvaro=$1 dump=$2 computer=$3
here=$(cd "$(dirname "$0")" && pwd)
export LSAN_OPTIONS=suppressions=$here/../lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}
command -v Xvfb >/dev/null || { echo "Xvfb missing"; exit 77; }

scratch=$(mktemp -d)
xvfb_pid='' pid=''
cleanup() {
  for p in $pid $xvfb_pid; do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT
export HOME=$scratch/home
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
export XDG_RUNTIME_DIR=$scratch/runtime
mkdir -p "$HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export KELVARO_NONINTERACTIVE=1
unset KELVARO_SIMULATED_COMPUTER KELVARO_PRINT_OUTPUT_CACHE
fail() {
  echo "FAIL: $*" >&2
  echo "--- standard error of Kelvaro:" >&2
  cat "$scratch/err" >&2 || true
  exit 1
}

# Xvfb picks a free display and writes its number into the pipe once it accepts clients.
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1280x800x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 10 -u "$displayfd" number || fail "Xvfb did not start"
exec {displayfd}<&-
export DISPLAY=:$number

"$kelvaro" --simulate "$computer" 2>"$scratch/err" &
pid=$!
for _ in $(seq 1 600); do
  grep -q '^Kelvaro: monitoring ' "$scratch/err" && break
  kill -0 "$pid" 2>/dev/null || fail "Kelvaro ended before it was ready"
  sleep 0.1
done
grep -q '^Kelvaro: monitoring ' "$scratch/err" || fail "Kelvaro was not ready within 60 s"
# A tick of the default 2 s interval, so that there is history to keep.
sleep 2.5
[ ! -e "$XDG_CONFIG_HOME/kelvaro/com.tarnwell.kelvaro.plist" ] || fail "preferences were written before the end"

kill -KILL "$xvfb_pid"
wait "$xvfb_pid" 2>/dev/null || true
xvfb_pid=''
for _ in $(seq 1 300); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "Kelvaro still runs 30 s after its X server went away"
wait "$pid" || true
pid=''

"$dump" --simulate "$computer" machine >"$scratch/machine.plist"
KELVARO_NONINTERACTIVE=1 "$dump" --simulate "$computer" sensors | grep -v '^artificial\.' >"$scratch/sensors" || true
[ -s "$scratch/sensors" ] || fail "kelvaro-dump lists no sensor of $computer"
python3 - "$scratch" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" <<'PYTHON' || fail "the files Kelvaro left do not hold its session"
import os, plistlib, sys
scratch, config, data = sys.argv[1:4]
with open(f"{scratch}/machine.plist", "rb") as f:
    serial = plistlib.load(f)["systemSerialNumber"]
sensors = open(f"{scratch}/sensors", encoding="utf-8").read().splitlines()
errors = []
path = f"{config}/kelvaro/com.tarnwell.kelvaro.plist"
if not os.path.isfile(path):
    errors.append("no preferences file")
else:
    with open(path, "rb") as f:
        machines = plistlib.load(f).get("MachinePreferences", {})
    if serial not in machines:
        errors.append(f"no MachinePreferences for {serial!r}: {sorted(machines)}")
    elif len(machines[serial].get("AvailableGauges", [])) != len(sensors):
        errors.append(f"{len(machines[serial].get('AvailableGauges', []))} gauges for {len(sensors)} sensors")
history = f"{data}/Kelvaro/SensorHistory.tevshf"
if not os.path.isfile(history) or os.path.getsize(history) == 0:
    errors.append("no history file")
for error in errors:
    print(error, file=sys.stderr)
sys.exit(1 if errors else 0)
PYTHON
grep -q 'ending without a quit' "$scratch/err" || fail "Kelvaro did not say that it saved at the lost display"
echo "Kelvaro lost its X server and left its preferences and history written"
