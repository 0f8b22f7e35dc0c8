#!/usr/bin/env bash
# A logout as the X server sees it: Kelvaro runs on a virtual X server of its own with a private HOME, and
# the server is killed under it. The display plugin ends the process; the preferences (one gauge per sensor of
# the computer) and the history file are written all the same.
# Usage: kelvaro-display-lost.sh KELVARO KELVARO-DUMP COMPUTER
set -euo pipefail
kelvaro=$1 dump=$2 computer=$3
. "$(dirname "$0")/../support/session-lib.sh"

start_x_server 1280x800
start_ready Kelvaro kelvaro "$kelvaro"
pid=$started
# A tick of the default 2 s interval, so that there is history to keep.
sleep 2.5
[ ! -e "$(preferences_file)" ] || fail "preferences were written before the end"

kill -KILL "$x_pid"
stop_x_server
for _ in $(seq 1 300); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "Kelvaro still runs 30 s after its X server went away"
wait "$pid" || true
forget "$pid"

"$dump" --simulate "$computer" machine >"$scratch/machine.plist"
KELVARO_NONINTERACTIVE=1 "$dump" --simulate "$computer" sensors | grep -v '^artificial\.' >"$scratch/sensors" || true
[ -s "$scratch/sensors" ] || fail "kelvaro-dump lists no sensor of $computer"
python3 - "$scratch" "$(preferences_file)" "$XDG_DATA_HOME" <<'PYTHON' || fail "the files Kelvaro left do not hold its session"
import os, plistlib, sys
scratch, path, data = sys.argv[1:4]
with open(f"{scratch}/machine.plist", "rb") as f:
    serial = plistlib.load(f)["systemSerialNumber"]
sensors = open(f"{scratch}/sensors", encoding="utf-8").read().splitlines()
errors = []
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
grep -q 'ending without a quit' "$scratch/kelvaro.err" || fail "Kelvaro did not say that it saved at the lost display"
echo "Kelvaro lost its X server and left its preferences and history written"
