#!/usr/bin/env bash
# The screen display meant to lie on the desktop, in a Wayland session of the script's own (weston headless
# with its X server; MODE "xwayland"), where nothing can be kept below the windows: the start-up question lies
# above it (or it is out of sight while the question waits), and so does a window opened after it. The other
# Wayland scenarios are in tests/desktop/test_wayland.py.
# Usage: kelvaro-wayland.sh KELVARO KELVARO-DUMP KELVARO-LITE FIXTURES MODE backdrop
set -euo pipefail
kelvaro=$1 dump=$2 lite=$3 fixtures=$4 mode=$5 scenario=$6
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/weston-lib.sh"
computer=$fixtures/portable

start_weston "$mode"
case "$scenario" in
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
  *) fail "unknown scenario $scenario" ;;
esac
echo "$scenario on weston ($mode): passed"
