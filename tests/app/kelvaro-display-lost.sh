#!/usr/bin/env bash
# A logout as the X server sees it: Kelvaro runs on a virtual X server of its own with a private HOME, and
# the server is killed under it. The process ends with status 1 (not a signal), and after the kill it has
# written the preferences (one gauge per sensor of the computer) and a history file that decodes, and logged
# what it saved. SCENARIO is what the session did before the logout:
#   fresh        nothing (2.5 s after the start)
#   preferences  the preference window opened (Ctrl+,) and closed (Escape)
#   remote       a remembered remote computer, given by host name (localhost), connected (needs PEER)
#   import       the "Import Preferences" offer still open: nothing of this computer is filed
#   full         a file-size limit (as a full disk, and binding root too) stops the history file: the logout
#                logs why, and the next start tells the user
# Usage: kelvaro-display-lost.sh KELVARO KELVARO-DUMP COMPUTER SCENARIO [PEER PEER-COMPUTER]
set -euo pipefail
kelvaro=$1 dump=$2 computer=$3 scenario=${4:-fresh} peer=${5:-} peer_computer=${6:-}
. "$(dirname "$0")/../support/session-lib.sh"
case "$scenario" in
  preferences | import) command -v xdotool >/dev/null || { echo "SKIP: xdotool is not installed"; exit 77; } ;;
esac

"$dump" --simulate "$computer" machine >"$scratch/machine.plist"
serial=$(python3 -c 'import plistlib,sys; print(plistlib.load(open(sys.argv[1],"rb"))["systemSerialNumber"])' "$scratch/machine.plist")
model=$(python3 -c 'import plistlib,sys; print(plistlib.load(open(sys.argv[1],"rb"))["systemModelCode"])' "$scratch/machine.plist")

# Stored preferences of the scenario. Usage: store_preferences PYTHON-DICT
store_preferences() {
  mkdir -p "$(dirname "$(preferences_file)")"
  python3 -c 'import plistlib,sys; plistlib.dump(eval(sys.argv[2]), open(sys.argv[1],"wb"))' "$(preferences_file)" "$1"
}

# Waits (a minute at most) until a viewable window of PID is named NAME; $window is it. Usage: wait_window PID NAME
wait_window() {
  local id
  for _ in $(seq 1 600); do
    for id in $(xdotool search --all --onlyvisible --pid "$1" --name "^$2\$" 2>/dev/null || true); do
      window=$id
      return 0
    done
    kill -0 "$1" 2>/dev/null || fail "Kelvaro ended before it showed \"$2\""
    sleep 0.1
  done
  fail "Kelvaro showed no window \"$2\" within 60 s"
}
# Waits until no viewable window of PID is named NAME. Usage: wait_window_gone PID NAME
wait_window_gone() {
  for _ in $(seq 1 600); do
    [ -z "$(xdotool search --all --onlyvisible --pid "$1" --name "^$2\$" 2>/dev/null || true)" ] && return 0
    sleep 0.1
  done
  fail "the window \"$2\" was still shown 60 s after it was closed"
}
# Waits until FILE holds a line matching PATTERN. Usage: wait_line FILE PATTERN WHAT
wait_line() {
  for _ in $(seq 1 600); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "no $3 within 60 s"
}

case "$scenario" in
  remote)
    [ -n "$peer" ] || fail "the remote scenario needs a peer program"
    "$peer" "$peer_computer" >"$scratch/peer.out" 2>"$scratch/peer.err" &
    pids+=("$!")
    wait_line "$scratch/peer.out" '^listening on ' "peer listening"
    port=$(sed -n 's/^listening on //p' "$scratch/peer.out")
    remote_serial=$("$dump" --simulate "$peer_computer" machine |
      python3 -c 'import plistlib,sys; print(plistlib.loads(sys.stdin.buffer.read())["systemSerialNumber"])')
    store_preferences "{'PreferencesVersion': 3, 'ActiveRemoteConnections': ['$remote_serial'],
      'KnownRemoteConnections3': {'$remote_serial': {'ConnectionSpecifier': 'Manual', 'ServiceName': 'localhost',
                                                     'ServicePort': $port}}}"
    ;;
  preferences)
    # A window to type into: the sensor window opens at the start.
    store_preferences "{'PreferencesVersion': 3, 'SensorWindowOpen': True}"
    ;;
  import)
    store_preferences "{'PreferencesVersion': 3,
      'SeenModels': {'$model': [{'HostOrComputerName': 'old-board', 'SerialNumber': 'OLDBOARD1'}]}}"
    ;;
esac
[ -e "$(preferences_file)" ] && cp "$(preferences_file)" "$scratch/stored.plist"

start_x_server 1280x800
if [ "$scenario" = full ]; then
  # Room for the preferences (some KiB), not for the histories (MiB).
  (ulimit -f 256 && exec "$kelvaro" --simulate "$computer") >"$scratch/kelvaro.out" 2>"$scratch/kelvaro.err" &
  started=$!
  pids+=("$started")
else
  start kelvaro "$kelvaro"
fi
pid=$started
case "$scenario" in
  fresh | full)
    wait_ready "$pid" "$scratch/kelvaro.err" Kelvaro
    # Sampling through a tick of the default 2 s interval when the display goes, as in a real session.
    # Nothing waits on the tick: what the save keeps is there from the "monitoring" line on.
    sleep 2.5
    [ ! -e "$(preferences_file)" ] || fail "preferences were written before the end"
    ;;
  preferences)
    wait_ready "$pid" "$scratch/kelvaro.err" Kelvaro
    wait_window "$pid" Sensors
    xdotool windowfocus --sync "$window" key --clearmodifiers ctrl+comma
    wait_window "$pid" 'Kelvaro Preferences: .*'
    xdotool windowfocus --sync "$window" key --clearmodifiers Escape
    wait_window_gone "$pid" 'Kelvaro Preferences: .*'
    # The closed window wrote the preferences; the logout must write them again.
    for _ in $(seq 1 600); do [ "$(preferences_file)" -nt "$scratch/stored.plist" ] && break; sleep 0.1; done
    [ "$(preferences_file)" -nt "$scratch/stored.plist" ] || fail "closing the preference window wrote no preferences"
    ;;
  remote)
    wait_ready "$pid" "$scratch/kelvaro.err" Kelvaro
    # Connected, and its sensors made gauges (once their descriptions came, a tick or more after readiness).
    wait_line "$scratch/kelvaro.err" "sensors of '.*' added as gauges" "the remote computer's gauges"
    ;;
  import)
    wait_window "$pid" "Import Preferences"
    ;;
  *) fail "unknown scenario $scenario" ;;
esac

history="$XDG_DATA_HOME/Kelvaro/SensorHistory.tevshf"
# Nothing writes the history before the end (autosave is off): one that exists afterwards was written by it.
[ ! -e "$history" ] || fail "a history file was written before the end"
kill -KILL "$x_pid"
stop_x_server
for _ in $(seq 1 300); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "Kelvaro still runs 30 s after its X server went away"
status=0
wait "$pid" || status=$?
forget "$pid"
[ "$status" -eq 1 ] || fail "Kelvaro ended with status $status after its X server went away, not 1"
# A sanitizer build reports a crash with status 1 too.
grep -q 'ERROR: AddressSanitizer\|runtime error:' "$scratch/kelvaro.err" && fail "Kelvaro crashed at the end of its display"

if [ "$scenario" = full ]; then
  grep -q 'saved at the display.s end: preferences written to .*; long-term histories not written (.*File too large' \
    "$scratch/kelvaro.err" || fail "Kelvaro did not log why the histories were not written"
  # The next start tells the user, once.
  mv "$scratch/kelvaro.err" "$scratch/first-run.log"
  start_x_server 1280x800
  start_ready Kelvaro kelvaro "$kelvaro"
  wait_line "$scratch/kelvaro.err" 'told the user: .*sensor histories could not be saved.*File too large' "notice of the failed save"
  quit_cleanly "$started" Kelvaro
  start_ready Kelvaro kelvaro "$kelvaro"
  quit_cleanly "$started" Kelvaro
  grep -q 'told the user' "$scratch/kelvaro.err" && fail "the failed save was told twice"
  echo "Kelvaro lost its X server with no room for its histories, and the next start said so"
  exit 0
fi

[ -s "$history" ] || fail "no history file written after the X server went away"
"$dump" history "$history" >"$scratch/history.txt" 2>"$scratch/dump.err" || fail "the history file does not decode"
grep -q "$serial" "$scratch/history.txt" || fail "the history file holds nothing of $serial"
# Written unless unchanged since the preference window's close wrote them; the log says which.
grep -q 'saved at the display.s end: preferences \(written to\|unchanged in\) .*; long-term histories written' "$scratch/kelvaro.err" ||
  fail "Kelvaro did not log what it saved at the lost display"

KELVARO_NONINTERACTIVE=1 "$dump" --simulate "$computer" sensors | grep -v '^artificial\.' >"$scratch/sensors" || true
[ -s "$scratch/sensors" ] || fail "kelvaro-dump lists no sensor of $computer"
python3 "$(dirname "$0")/../support/saved-preferences.py" "$scenario" "$serial" "$model" "$scratch/sensors" \
  "$(preferences_file)" "${remote_serial:-}" ||
  fail "the files Kelvaro left do not hold its session"
grep -q 'ending without a quit' "$scratch/kelvaro.err" || fail "Kelvaro did not say that it saved at the lost display"
echo "Kelvaro lost its X server ($scenario) and left its preferences and history written"
