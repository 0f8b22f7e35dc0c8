#!/usr/bin/env bash
# The program end to end on a virtual X server: it starts on a simulated computer, connects its sensors,
# samples them for two ticks, and quits on SIGTERM with status 0, its preferences (one gauge per sensor of
# that computer) and its history file written and a value and a text for every sensor.
# Usage (under xvfb-run -a): kelvaro-xvfb-run.sh KELVARO KELVARO-DUMP COMPUTER
set -euo pipefail
kelvaro=$1 dump=$2 computer=$3
. "$(dirname "$0")/../support/session-lib.sh"

start_ready Kelvaro kelvaro "$kelvaro" --print-output-cache
pid=$started
# It runs through two ticks of the default 2 s interval before the quit. Nothing below waits on them: every
# value and the history are there from the "monitoring" line on, so a slow tick cannot fail the test.
sleep 4.5
kill -0 "$pid" 2>/dev/null || fail "Kelvaro ended by itself"
quit_cleanly "$pid" Kelvaro

# The gauges of the simulated computer are its sensors without the probes, which the user adds.
"$dump" --simulate "$computer" machine >"$scratch/machine.plist"
KELVARO_NONINTERACTIVE=1 "$dump" --simulate "$computer" sensors | grep -v '^artificial\.' >"$scratch/sensors" || true
[ -s "$scratch/sensors" ] || fail "kelvaro-dump lists no sensor of $computer"

python3 - "$scratch" "$(preferences_file)" "$XDG_DATA_HOME" <<'PYTHON' || fail "the files Kelvaro left do not hold what it sampled"
import plistlib, sys
scratch, preferences_path, data = sys.argv[1:4]
with open(f"{scratch}/machine.plist", "rb") as f:
    serial = plistlib.load(f)["systemSerialNumber"]
sensors = [line.split("\t")[0] for line in open(f"{scratch}/sensors", encoding="utf-8").read().splitlines()]
cache = [line.split("\t") for line in open(f"{scratch}/kelvaro.out", encoding="utf-8").read().splitlines()]
with open(preferences_path, "rb") as f:
    preferences = plistlib.load(f)

errors = []
machines = preferences.get("MachinePreferences", {})
if serial not in machines:
    errors.append(f"no MachinePreferences for {serial!r}: {sorted(machines)}")
else:
    gauges = machines[serial].get("AvailableGauges", [])
    if len(gauges) != len(sensors):
        errors.append(f"{len(gauges)} gauges for {len(sensors)} sensors")
if len(cache) != len(sensors):
    errors.append(f"{len(cache)} cache lines for {len(sensors)} sensors")
for fields in cache:
    if len(fields) != 3 or not fields[1] or not fields[2]:
        errors.append(f"a cache line without value or text: {fields!r}")
    else:
        float(fields[1])
import os
if not os.path.isfile(f"{data}/Kelvaro/SensorHistory.tevshf"):
    errors.append("no history file")
for error in errors:
    print(error, file=sys.stderr)
sys.exit(1 if errors else 0)
PYTHON
echo "Kelvaro quit on SIGTERM with $(wc -l <"$scratch/kelvaro.out") sensors sampled and its files written"
