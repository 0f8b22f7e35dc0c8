#!/usr/bin/env bash
# The programs in a Wayland session: weston (headless, desktop shell) of the script's own, MODE "native"
# (Wayland clients) or "xwayland" (X11 clients of weston's X server). SCENARIO:
#   lost        the compositor killed under Kelvaro (a logout): status 1, preferences and a history that
#               decodes written, what was saved logged
#   lost-lite   the same under KelvaroLite: status 1, and it says that it had nothing to write
#   positions   no client can tell where its window is (natively), weston's window manager does not tell it
#               (XWayland): the stored places of the sensor window and the overview survive starts and quits,
#               a first start stores none of "0 0", no window opens past the output, and a stored size stays
#   alerts      the two start-up alerts of a computer without sensors lie over the windows opened meanwhile
#   platform    (xwayland) in a Wayland session that offers XWayland, with no platform chosen, the programs'
#               windows are X11 windows
#   second      a second start (with and without a session bus) hands its activation token to the running
#               copy, which activates with it, and ends with status 0
# Usage: kelvaro-wayland.sh KELVARO KELVARO-DUMP KELVARO-LITE FIXTURES MODE SCENARIO
set -euo pipefail
kelvaro=$1 dump=$2 lite=$3 fixtures=$4 mode=$5 scenario=$6
if [ "$scenario" = second ] && [ -z "${KELVARO_TEST_OWN_BUS:-}" ]; then
  KELVARO_TEST_OWN_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/weston-lib.sh"
computer=$fixtures/portable

# Stored preferences. Usage: store_preferences PYTHON-DICT
store_preferences() {
  mkdir -p "$(dirname "$(preferences_file)")"
  python3 -c 'import plistlib,sys; plistlib.dump(eval(sys.argv[2]), open(sys.argv[1],"wb"))' "$(preferences_file)" "$1"
}
# A stored preference's value, empty when unset. Usage: stored KEY
stored() {
  python3 -c 'import plistlib,sys; print(plistlib.load(open(sys.argv[1],"rb")).get(sys.argv[2], ""))' "$(preferences_file)" "$1"
}
# Ends PID after its compositor is killed; fails unless it ends with status 1. Usage: lose_compositor PID WHAT
lose_compositor() {
  kill_weston
  local status=0
  for _ in $(seq 1 300); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$1" 2>/dev/null && fail "$2 still runs 30 s after its compositor went away"
  wait "$1" || status=$?
  forget "$1"
  [ "$status" -eq 1 ] || fail "$2 ended with status $status after its compositor went away, not 1"
  grep -q 'ERROR: AddressSanitizer\|runtime error:' "$scratch"/*.err && fail "$2 crashed at the end of its compositor"
  return 0
}

start_weston "$mode"
case "$scenario" in
  lost)
    start_ready Kelvaro kelvaro "$kelvaro"
    pid=$started
    screenshot "wayland-$mode-lost"
    [ ! -e "$(preferences_file)" ] || fail "preferences were written before the end"
    lose_compositor "$pid" Kelvaro
    history="$XDG_DATA_HOME/Kelvaro/SensorHistory.tevshf"
    [ -s "$(preferences_file)" ] || fail "no preferences written after the compositor went away"
    [ -s "$history" ] || fail "no history file written after the compositor went away"
    "$dump" history "$history" >/dev/null 2>"$scratch/dump.err" || fail "the history file does not decode"
    grep -q 'ending without a quit' "$scratch/kelvaro.err" || fail "Kelvaro did not say that the display went away"
    grep -q "saved at the display.s end: preferences written to .*; long-term histories written" "$scratch/kelvaro.err" ||
      fail "Kelvaro did not log what it saved"
    ;;
  lost-lite)
    start_ready KelvaroLite lite "$lite"
    lose_compositor "$started" KelvaroLite
    grep -q "^KelvaroLite: saved at the display.s end" "$scratch/lite.err" || fail "KelvaroLite did not log the end of its display"
    ;;
  positions)
    # Where no client can tell where its window is (natively), or where the window manager does not tell it
    # (weston's, for its X server: its frame's invisible margin counted, windows moved without a word), the
    # stored places stay as they were however often the programs start: never the margin off, never "0 0".
    sensor_windows_shown() { stacked_titles >"$scratch/stack"; grep -qx Sensors "$scratch/stack" && grep -q '^Sensor Overview' "$scratch/stack"; }
    # Views past the 1600x1000 output, but for weston's invisible 32-pixel margin around an X11 window's frame:
    # a window fitted to its text keeps within the output from where it opened, as on X11.
    views_past_output() {
      timeout 10 weston-debug scene-graph 2>/dev/null | python3 -c '
import re, sys
margin = 32 if sys.argv[1] == "xwayland" else 0
title = None
for line in sys.stdin:
    m = re.search(r"top-level window .(Sensors|Sensor Overview)", line)
    if m:
        title = m.group(1)
        continue
    m = re.search(r"position: \((-?\d+), (-?\d+)\) -> \((-?\d+), (-?\d+)\)", line)
    if m and title:
        x1, y1, x2, y2 = map(int, m.groups())
        if x1 + margin < 0 or y1 + margin < 0 or x2 - margin > 1600 or y2 - margin > 1000:
            print(f"{title}: {x1},{y1} -> {x2},{y2}")
        title = None' "$mode"
    }
    # One start and quit with the sensor window and the overview open. Usage: start_and_quit NAME
    start_and_quit() {
      start_ready Kelvaro kelvaro "$kelvaro"
      wait_until 60 "the sensor window and the overview were not shown" sensor_windows_shown
      local until=$((SECONDS + 10))
      while [ -n "$(views_past_output)" ] && [ "$SECONDS" -lt "$until" ]; do sleep 0.2; done
      screenshot "wayland-$mode-positions-$1"
      [ -z "$(views_past_output)" ] || fail "a window opened past the output at start $1: $(views_past_output)"
      quit_cleanly "$started" Kelvaro
    }
    places() {
      python3 -c 'import plistlib,sys; p = plistlib.load(open(sys.argv[1],"rb"))
for k in ("TEVWindowFrame-StandardWindow", "TEVSpecialAutosave-StandardWindow", "TEVWindowFrame-SensorOverview"): print(k, p.get(k, "-"))' "$(preferences_file)"
    }
    # A first start: the windows placed by the program, or by the compositor.
    store_preferences "{'PreferencesVersion': 3, 'SensorWindowOpen': True, 'OverviewOpen': True}"
    start_and_quit first
    places >"$scratch/first"
    echo "stored after the first start:"; cat "$scratch/first"
    grep -q ' 0 0\( \|$\)' "$scratch/first" && fail "a window's place was stored as 0 0:"$'\n'"$(cat "$scratch/first")"
    start_and_quit again
    places >"$scratch/again"
    diff "$scratch/first" "$scratch/again" >&2 || fail "the stored places changed at the second start"
    # A place and size stored on X, say, put into what these starts wrote: the size stays the user's, not one
    # of a cut the program could not see here.
    python3 -c 'import plistlib,sys; p = plistlib.load(open(sys.argv[1],"rb"))
p.update({"TEVWindowFrame-StandardWindow": "210 230 640 140", "TEVSpecialAutosave-StandardWindow": "210 230"})
plistlib.dump(p, open(sys.argv[1],"wb"))' "$(preferences_file)"
    start_and_quit kept
    frame=$(stored TEVWindowFrame-StandardWindow)
    echo "stored after a start with the window's record put in: '$frame'"
    case "$frame" in "210 230 640 "*) ;; *) fail "the sensor window's stored frame '210 230 640 140' became '$frame'" ;; esac
    # Places stored before, on X, say.
    store_preferences "{'PreferencesVersion': 3, 'SensorWindowOpen': True, 'OverviewOpen': True,
      'TEVWindowFrame-StandardWindow': '210 230 640 140', 'TEVSpecialAutosave-StandardWindow': '210 230',
      'TEVWindowFrame-SensorOverview': '700 150 520 420'}"
    for run in 1 2; do
      start_and_quit "stored-$run"
      frame=$(stored TEVWindowFrame-StandardWindow) place=$(stored TEVSpecialAutosave-StandardWindow)
      overview=$(stored TEVWindowFrame-SensorOverview)
      echo "stored after start $run: frame '$frame', place '$place', overview '$overview'"
      [ "$place" = "210 230" ] || fail "the sensor window's stored place became '$place' at start $run"
      case "$frame" in "210 230 "*) ;; *) fail "the sensor window's stored frame became '$frame' at start $run" ;; esac
      case "$overview" in "700 150 "*) ;; *) fail "the overview's stored frame became '$overview' at start $run" ;; esac
    done
    ;;
  alerts)
    # The alerts wait for an answer.
    unset KELVARO_NONINTERACTIVE
    computer=$fixtures/vm
    start_ready Kelvaro kelvaro "$kelvaro"
    # Top first: every alert (titled after the program) over every other window. A window that maps is on
    # top until the alerts are shown over it again, a turn or more later: a stack taken in between is looked
    # at again; one that stays so is the fault.
    alerts_on_top() { awk '$0 != "Kelvaro" { seen = 1 } $0 == "Kelvaro" && seen { exit 1 }' "$scratch/stack"; }
    for _ in $(seq 1 300); do
      stacked_titles >"$scratch/stack"
      [ "$(grep -cx Kelvaro "$scratch/stack")" -ge 2 ] && grep -qx Sensors "$scratch/stack" &&
        grep -q '^Sensor Overview' "$scratch/stack" && alerts_on_top && break
      sleep 0.2
    done
    screenshot "wayland-$mode-alerts"
    [ "$(grep -cx Kelvaro "$scratch/stack")" -ge 2 ] || fail "two alerts were not shown:"$'\n'"$(cat "$scratch/stack")"
    grep -q '^Sensor Overview' "$scratch/stack" || fail "the overview was not shown:"$'\n'"$(cat "$scratch/stack")"
    alerts_on_top || fail "an alert lies behind a window, from the top down:"$'\n'"$(cat "$scratch/stack")"
    quit_cleanly "$started" Kelvaro
    ;;
  platform)
    [ "$mode" = xwayland ] || fail "the platform scenario is for a session with XWayland"
    unset QT_QPA_PLATFORM
    export XDG_SESSION_TYPE=wayland
    start_ready Kelvaro kelvaro "$kelvaro"
    x11_windows() {
      timeout 10 weston-debug scene-graph 2>/dev/null | grep "top-level window" >"$scratch/views" || true
      grep -q "top-level window 'Sensors'" "$scratch/views"
    }
    wait_until 60 "the sensor window was not shown" x11_windows
    # Weston names the role of its own clients' surfaces; its X server's have none.
    grep "top-level window 'Sensors'" "$scratch/views" | grep -q 'role (null)' ||
      fail "the sensor window is no X11 window:"$'\n'"$(cat "$scratch/views")"
    quit_cleanly "$started" Kelvaro
    ;;
  second)
    start_ready Kelvaro first "$kelvaro"
    first=$started
    token=kelvaro-test-token-$$
    # The desktop gives each start its own token: Wayland's in XDG_ACTIVATION_TOKEN, X11's start-up id.
    for bus in bus nobus; do
      if [ "$mode" = native ]; then given=(XDG_ACTIVATION_TOKEN="$token-$bus"); else given=(DESKTOP_STARTUP_ID="$token-${bus}_TIME4242"); fi
      # Without a bus the request goes through the socket in the runtime folder.
      [ "$bus" = bus ] || given+=(DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/no-bus")
      status=0
      env "${given[@]}" timeout 60 "$kelvaro" --simulate "$computer" 2>"$scratch/second.err" || status=$?
      [ "$status" -eq 0 ] || fail "the second start ($bus) ended with status $status"
      grep -q "^Kelvaro: runs already (process $first)" "$scratch/second.err" || fail "the second start ($bus) did not hand over"
      wait_until 30 "the running Kelvaro was not given the activation token of the start ($bus)" \
        grep -q "^Kelvaro: another start asked for the windows (activation token $token-$bus" "$scratch/first.err"
    done
    [ "$(running Kelvaro)" = 1 ] || fail "$(running Kelvaro) copies of Kelvaro run"
    quit_cleanly "$first" "the running Kelvaro"
    ;;
  *) fail "unknown scenario $scenario" ;;
esac
echo "$scenario on weston ($mode): passed"
