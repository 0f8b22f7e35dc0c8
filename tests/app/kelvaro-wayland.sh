#!/usr/bin/env bash
# The programs in a Wayland session: weston (headless, desktop shell) of the script's own, MODE "native"
# (Wayland clients) or "xwayland" (X11 clients of weston's X server). SCENARIO:
#   lost        the compositor killed under Kelvaro (a logout): status 1, preferences and a history that
#               decodes written, what was saved logged
#   lost-lite   the same under KelvaroLite: status 1, and it says that it had nothing to write
#   positions   no client can tell where its window is (natively), weston's window manager does not tell it
#               (XWayland): the stored places of the sensor window and the overview survive starts and quits,
#               a first start stores none of "0 0", no window opens past the output, and a stored size stays
#   alerts      the two start-up alerts of a computer without sensors, one after the other, lie over the
#               windows opened meanwhile (the second, after the first is answered, on XWayland)
#   platform    (xwayland) in a Wayland session that offers XWayland, with no platform chosen, the programs'
#               windows are X11 windows
#   second      a second start (with and without a session bus) hands its activation token to the running
#               copy, which activates with it, and ends with status 0
#   backdrop    (xwayland) the screen display meant to lie on the desktop, where nothing can be kept below the
#               windows: the start-up question lies above it (or it is out of sight while the question waits),
#               and so does a window opened after it
#   environment (xwayland, no platform chosen, started with an activation token) the programs Kelvaro starts
#               (an alert's program, and xdg-open for an alert's document) get no QT_QPA_PLATFORM and no token
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
    pid=$started
    # Top first: the alert (titled after the program; one at a time, the second waits for the answer to the
    # first) over every other window. A window that maps is on top until the alert is shown anew over it, a
    # turn or more later: a stack taken in between is looked at again; one that stays so is the fault.
    alerts_on_top() { awk '$0 != "Kelvaro" { seen = 1 } $0 == "Kelvaro" && seen { exit 1 }' "$scratch/stack"; }
    alert_in_front() {
      for _ in $(seq 1 300); do
        stacked_titles >"$scratch/stack"
        [ "$(grep -cx Kelvaro "$scratch/stack")" -eq 1 ] && grep -qx Sensors "$scratch/stack" &&
          grep -q '^Sensor Overview' "$scratch/stack" && alerts_on_top && break
        sleep 0.2
      done
      screenshot "wayland-$mode-alerts-$1"
      [ "$(grep -cx Kelvaro "$scratch/stack")" -eq 1 ] || fail "not one alert ($1):"$'\n'"$(cat "$scratch/stack")"
      grep -q '^Sensor Overview' "$scratch/stack" || fail "the overview was not shown:"$'\n'"$(cat "$scratch/stack")"
      alerts_on_top || fail "the $1 alert lies behind a window, from the top down:"$'\n'"$(cat "$scratch/stack")"
    }
    alert_in_front first
    if [ "$mode" = xwayland ]; then
      # Answered (Escape), the second follows, in front as well. Weston's window manager may give the focus
      # back to another window before the key: it is pressed again then.
      need_tools xdotool
      alert=$(for id in $(xdotool search --onlyvisible --pid "$pid" --name '^Kelvaro$' 2>/dev/null); do
        if xprop -id "$id" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_DIALOG; then echo "$id"; fi; done | head -1)
      [ -n "$alert" ] || fail "no X window of the first alert"
      first_gone() { ! xwininfo -id "$alert" 2>/dev/null | grep -q IsViewable; }
      answer() { xdotool windowfocus "$alert" key Escape 2>/dev/null || true; for _ in $(seq 1 25); do first_gone && return; sleep 0.2; done; return 1; }
      wait_until 60 "the first alert was not answered" answer
      alert_in_front second
    fi
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
  backdrop)
    [ "$mode" = xwayland ] || fail "the backdrop scenario is for a session with XWayland"
    need_tools xdotool
    unset QT_QPA_PLATFORM
    start_ready Kelvaro first "$kelvaro"
    quit_cleanly "$started" Kelvaro
    open_at_next_start SensorWindowOpen OverviewOpen FloatingWindowOpen
    python3 - "$(preferences_file)" <<'PYTHON'
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    data = f.read()
prefs = plistlib.loads(data)
for machine in prefs["MachinePreferences"].values():
    machine["ScreenWindowIsBackdrop"] = True
with open(sys.argv[1], "wb") as f:
    plistlib.dump(prefs, f, fmt=plistlib.FMT_BINARY if data.startswith(b"bplist") else plistlib.FMT_XML)
PYTHON
    # The colour question waits for an answer.
    unset KELVARO_NONINTERACTIVE
    start_ready Kelvaro kelvaro "$kelvaro"
    pid=$started
    # Top first, "WIDTHxHEIGHT TITLE". The screen display is the widest of the windows titled after the program
    # (the portable's values span over 1000 px), or untitled ("-"); the question a narrower one so titled.
    views_now() { stacked_views >"$scratch/stack"; }
    display_line() { awk '{ split($1, size, "x") } ($2 == "Kelvaro" || $2 == "-") && NF == 2 && size[1] >= 1000 { print NR; exit }' "$scratch/stack"; }
    question_line() { awk '{ split($1, size, "x") } $2 == "Kelvaro" && NF == 2 && size[1] < 1000 { print NR; exit }' "$scratch/stack"; }
    shown() { views_now; [ -n "$(question_line)" ] && grep -q ' Sensors$' "$scratch/stack"; }
    wait_until 60 "the colour question and the sensor window were not shown" shown
    # A window mapped after the question lies over it until the question is shown anew over it: a stack that
    # stays so is the fault.
    question_over_display() { views_now; [ -n "$(question_line)" ] && { [ -z "$(display_line)" ] || [ "$(question_line)" -lt "$(display_line)" ]; }; }
    for _ in $(seq 1 50); do question_over_display && break; sleep 0.2; done
    screenshot "wayland-$mode-backdrop-question"
    echo "while the question waits, from the top down:"; cat "$scratch/stack"
    question_over_display || fail "the screen display lies over the colour question, from the top down:"$'\n'"$(cat "$scratch/stack")"
    # Answered (No), then a window opened (the preferences, Ctrl+,): it lies over the display.
    # Keys go to the X window with the focus, set here: weston's window manager takes no activation requests.
    question=$(for id in $(xdotool search --onlyvisible --pid "$pid" --name '^Kelvaro$' 2>/dev/null); do
      xprop -id "$id" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_DIALOG && echo "$id"; done | head -1)
    [ -n "$question" ] || fail "no X window of the question"
    # Gone when no window of its size is left: the splash, titled so too, may still be closing. Weston's window
    # manager may give the focus back to another window before the key: it is pressed again then.
    question_size=$(sed -n "$(question_line)s/ .*//p" "$scratch/stack")
    question_gone() { views_now; ! grep -qx "$question_size Kelvaro" "$scratch/stack"; }
    answer() { xdotool windowfocus "$question" key Escape 2>/dev/null || true; for _ in $(seq 1 25); do question_gone && return; sleep 0.2; done; return 1; }
    wait_until 60 "the question was not answered" answer
    preferences_shown() { views_now; grep -q ' Kelvaro Preferences' "$scratch/stack"; }
    open_preferences() {
      xdotool search --onlyvisible --pid "$pid" --name '^Sensors$' windowfocus key ctrl+comma 2>/dev/null || true
      for _ in $(seq 1 25); do preferences_shown && return; sleep 0.2; done
      return 1
    }
    display_shown() { views_now; [ -n "$(display_line)" ]; }
    wait_until 60 "the screen display did not come back once the question was answered" display_shown
    wait_until 60 "no preference window opened" open_preferences
    screenshot "wayland-$mode-backdrop-preferences"
    echo "with the preferences open, from the top down:"; cat "$scratch/stack"
    preferences=$(grep -n ' Kelvaro Preferences' "$scratch/stack" | head -1 | cut -d: -f1)
    [ -n "$(display_line)" ] || fail "the screen display went"
    [ "$preferences" -lt "$(display_line)" ] ||
      fail "the screen display lies over the window opened after it:"$'\n'"$(cat "$scratch/stack")"
    quit_cleanly "$pid" Kelvaro
    ;;
  environment)
    [ "$mode" = xwayland ] || fail "the environment scenario is for a session with XWayland"
    unset QT_QPA_PLATFORM
    # What the desktop gave Kelvaro's own start, which Kelvaro uses.
    export XDG_ACTIVATION_TOKEN=launcher-token-77 KELVARO_TEST_MARK=kept
    # Each started program writes its environment into $scratch/NAME.env.
    mkdir -p "$scratch/bin"
    cat >"$scratch/bin/xdg-open" <<EOF
#!/bin/sh
{ env; echo "ARGUMENTS=\$*"; } >"$scratch/\$(basename "\$0").env.new" && mv "$scratch/\$(basename "\$0").env.new" "$scratch/\$(basename "\$0").env"
EOF
    cp "$scratch/bin/xdg-open" "$scratch/on-alert"
    chmod +x "$scratch/bin/xdg-open" "$scratch/on-alert"
    echo "a document" >"$scratch/alert-document.txt"
    export PATH=$scratch/bin:$PATH
    start_ready Kelvaro gauges "$kelvaro"
    quit_cleanly "$started" Kelvaro
    # A sensor over its limit opens the program, then the document (through the desktop's handler).
    for object in on-alert alert-document.txt; do
      python3 - "$(preferences_file)" "$scratch/$object" <<'PYTHON'
import plistlib, sys
prefs = plistlib.load(open(sys.argv[1], "rb"))
machine = next(m for m in prefs["MachinePreferences"].values() if m.get("AvailableGauges"))
gauge_id, gauge = next((i, g) for i, g in machine["AvailableGauges"].items() if g.get("SensorEnabled", True))
gauge.update(HighTriggerEnabled=True, HighThreshold=-1000.0)
machine.update(Triggers=[gauge_id], AlertOpensObject=True, AlertObjectPath=sys.argv[2], AlertOpensPanel=False,
               AlertPlaySound=False, AlertUsesVoice=False, AlertSendsGrowl=False)
plistlib.dump(prefs, open(sys.argv[1], "wb"))
PYTHON
      started_program=$([ "$object" = on-alert ] && echo on-alert || echo xdg-open)
      rm -f "$scratch/$started_program.env"
      start_ready Kelvaro "alert-$started_program" "$kelvaro"
      wait_until 60 "the alert did not start $started_program" test -s "$scratch/$started_program.env"
      quit_cleanly "$started" Kelvaro
      grep -q "^KELVARO_TEST_MARK=kept$" "$scratch/$started_program.env" || fail "$started_program did not get the session's environment"
      grep "^QT_QPA_PLATFORM=\|^XDG_ACTIVATION_TOKEN=\|^DESKTOP_STARTUP_ID=" "$scratch/$started_program.env" >&2 &&
        fail "$started_program got the platform Kelvaro chose for itself or the token of Kelvaro's start"
      echo "$started_program: no QT_QPA_PLATFORM, no activation token"
    done
    grep -qx "ARGUMENTS=file://$scratch/alert-document.txt" "$scratch/xdg-open.env" || fail "xdg-open was not given the document"
    ;;
  *) fail "unknown scenario $scenario" ;;
esac
echo "$scenario on weston ($mode): passed"
