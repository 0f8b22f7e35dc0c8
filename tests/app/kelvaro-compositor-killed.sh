#!/usr/bin/env bash
# The compositor killed under a program again and again: a Wayland session of the script's own (weston,
# headless) with a session bus of its own, PROGRAM (Kelvaro or KelvaroLite) started in it each round and
# weston killed 1 to 3 s after the program is ready, at a point picked at random. MODE "native" runs it as a
# Wayland client; "xwayland" on weston's X server, as the program picks its platform itself. Every round the
# process ends with status 1 once it has saved and said so: Kelvaro's preferences (one gauge per sensor) and
# history (decoding, with this computer's records) written after the kill, KelvaroLite's line that it had
# nothing to write. Every round is run; the rounds that lost are told at the end.
# Usage: kelvaro-compositor-killed.sh KELVARO KELVARO-DUMP KELVARO-LITE COMPUTER MODE PROGRAM ROUNDS
set -euo pipefail
kelvaro=$1 dump=$2 lite=$3 computer=$4 mode=$5 program=$6 rounds=$7
if [ -z "${KELVARO_TEST_OWN_BUS:-}" ]; then
  KELVARO_TEST_OWN_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/weston-lib.sh"
case "$program" in
  Kelvaro) binary=$kelvaro log=kelvaro ;;
  KelvaroLite) binary=$lite log=lite ;;
  *) fail "unknown program $program" ;;
esac
case "$mode" in
  native) went_away="the Wayland compositor" ;;
  xwayland) went_away="the X server" ;;
  *) fail "unknown mode $mode" ;;
esac

"$dump" --simulate "$computer" machine >"$scratch/machine.plist"
serial=$(python3 -c 'import plistlib,sys; print(plistlib.load(open(sys.argv[1],"rb"))["systemSerialNumber"])' "$scratch/machine.plist")
model=$(python3 -c 'import plistlib,sys; print(plistlib.load(open(sys.argv[1],"rb"))["systemModelCode"])' "$scratch/machine.plist")
KELVARO_NONINTERACTIVE=1 "$dump" --simulate "$computer" sensors | grep -v '^artificial\.' >"$scratch/sensors" || true
[ -s "$scratch/sensors" ] || fail "kelvaro-dump lists no sensor of $computer"
history="$XDG_DATA_HOME/Kelvaro/SensorHistory.tevshf"

# Why the round's end saved nothing, or nothing. Usage: unsaved
unsaved() {
  local err=$scratch/$log.err
  grep -q "^$program: ending without a quit: $went_away went away" "$err" || { echo "no \"ending without a quit\""; return; }
  if [ "$program" = KelvaroLite ]; then
    grep -q "^KelvaroLite: saved at the display.s end: nothing to write" "$err" || echo "no \"saved at the display's end\""
    return
  fi
  grep -q "^Kelvaro: saved at the display.s end: preferences written to .*; long-term histories written" "$err" ||
    { echo "no \"saved at the display's end\" with the preferences and histories written"; return; }
  [ "$(preferences_file)" -nt "$scratch/killed" ] || { echo "no preferences written after the kill"; return; }
  [ "$history" -nt "$scratch/killed" ] || { echo "no history written after the kill"; return; }
  "$dump" history "$history" >"$scratch/history.txt" 2>"$scratch/dump.log" || { echo "the history does not decode"; return; }
  grep -q "$serial" "$scratch/history.txt" || { echo "the history holds nothing of $serial"; return; }
  python3 "$(dirname "$0")/../support/saved-preferences.py" fresh "$serial" "$model" "$scratch/sensors" \
    "$(preferences_file)" 2>"$scratch/preferences.log" || echo "the preferences do not hold the session: $(cat "$scratch/preferences.log")"
}

lost=()
for round in $(seq 1 "$rounds"); do
  start_weston "$mode"
  if [ "$mode" = xwayland ]; then
    unset QT_QPA_PLATFORM
    export XDG_SESSION_TYPE=wayland
  fi
  # Each round a first start: its preferences exist only once it has saved. The history stays, and the
  # program reads it again.
  rm -f "$(preferences_file)"
  start "$log" "$binary"
  wait_ready "$started" "$scratch/$log.err" "$program"
  ms=$((1000 + RANDOM % 2001))
  sleep "$((ms / 1000)).$(printf %03d $((ms % 1000)))"
  [ "$program" = KelvaroLite ] || [ ! -e "$(preferences_file)" ] || fail "round $round: preferences were written before the end"
  # Nothing writes the history before the end (autosave is off): one newer than this was written by it.
  touch "$scratch/killed"
  lose_compositor "$started" "$program"
  why=$(unsaved)
  if [ -z "$why" ]; then
    echo "round $round: weston killed ${ms} ms after $program was ready: saved"
    continue
  fi
  echo "round $round: weston killed ${ms} ms after $program was ready: LOST ($why)"
  lost+=("$round")
  # The first lost round's log is shown with the failure; all are kept.
  if [ "${#lost[@]}" -eq 1 ]; then cp "$scratch/$log.err" "$scratch/lost-round-$round.err"; else cp "$scratch/$log.err" "$scratch/lost-round-$round.log"; fi
done
[ "${#lost[@]}" -eq 0 ] ||
  fail "$program ($mode) saved in $((rounds - ${#lost[@]})) of $rounds compositor kills; lost in rounds ${lost[*]}"
echo "$program ($mode) saved in all $rounds compositor kills"
