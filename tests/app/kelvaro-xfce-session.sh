#!/usr/bin/env bash
# Kelvaro in a real XFCE session (xfce4-session, xfwm4 compositing, xfce4-panel) on a virtual X server with a
# session bus of its own. In the first login a first start places the sensor window and the overview with
# xfwm4's frames within the work area and apart; the next start shows the sensor window, the overview, the
# system information and the extreme values; the screen display (Ctrl+D) takes no keyboard focus, no task bar lists it and clicks in
# the gaps of its text reach the window below. The logout (xfce4-session-logout --logout) ends Kelvaro with
# status 0 and every window recorded as on screen; the next login in the same home starts it again with the
# same windows, the focus with the sensor window at both. There, once every window is closed, a second start
# shows the sensor window.
# "import": a logout while the "Import Preferences" offer is open leaves it undecided (nothing of this computer
# filed), so that it comes again at the next start.
# With KELVARO_SCREENSHOT_DIR set it keeps pictures of both logins there.
# Usage: kelvaro-xfce-session.sh KELVARO COMPUTER windows|import [KELVARO-DUMP]
set -euo pipefail
kelvaro=$1 computer=$2 mode=${3:-windows} dump=${4:-}
if [ -z "${KELVARO_TEST_OWN_BUS:-}" ]; then
  command -v dbus-run-session >/dev/null || { echo "SKIP: dbus-run-session is not installed"; exit 77; }
  KELVARO_TEST_OWN_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/desktop-session-lib.sh"
need_tools xfce4-session xfce4-session-logout xfwm4 xfsettingsd xfce4-panel xprop xwininfo xdotool wmctrl xev \
  dbus-update-activation-environment
domain=$(preferences_file)
expected=$'Extreme Values\nSensor Overview\nSensors\nSystem Information'

# The flags of the windows of the last quit, "KEY=true|false" each.
open_flags() {
  python3 - "$domain" <<'PYTHON'
import plistlib, sys
prefs = plistlib.load(open(sys.argv[1], "rb"))
for key in ("SensorWindowOpen", "OverviewOpen", "SystemInfoOpen", "ExtremeValuesWindowOpen", "FloatingWindowOpen"):
    print(f"{key}={str(prefs.get(key, False)).lower()}")
PYTHON
}

# The sensor window, the main one, has the keyboard focus, not the window opened last, and keeps it a second
# later: xfwm4 focuses each window it maps, and Qt activates a window shown before its map at the map.
sensor_window_focused() {
  local active sensors
  active=$(xprop -root _NET_ACTIVE_WINDOW | sed -n 's/.*window id # \(0x[0-9a-f]*\).*/\1/p')
  sensors=$(managed_windows Kelvaro | awk '$10 == "Sensors" { print $1; exit }')
  [ -n "$active" ] && [ -n "$sensors" ] && [ "$((active))" = "$((sensors))" ]
}
focus_stays_on_sensor_window() { sensor_window_focused && sleep 1 && sensor_window_focused; }
# Fails (after half a minute) unless the focus stays with the sensor window, naming the window that has it.
# Usage: expect_focus_on_sensor_window WHEN
expect_focus_on_sensor_window() {
  local until=$((SECONDS + 30))
  until focus_stays_on_sensor_window; do
    [ "$SECONDS" -lt "$until" ] ||
      fail "$1 the focus is with $(xprop -root _NET_ACTIVE_WINDOW | sed -n 's/.*window id # //p'), not the sensor window:"$'\n'"$(managed_windows Kelvaro)"
    sleep 0.2
  done
}

start_x_server 1280x800
share_folders_with_bus
write_xfce_session_settings

if [ "$mode" = import ]; then
  [ -n "$dump" ] || fail "the import scenario needs kelvaro-dump"
  "$dump" --simulate "$computer" machine >"$scratch/machine.plist"
  read -r serial model < <(python3 -c 'import plistlib, sys; m = plistlib.load(open(sys.argv[1], "rb"))
print(m["systemSerialNumber"], m["systemModelCode"])' "$scratch/machine.plist")
  # Another computer of the same model was seen: the start offers its preferences.
  mkdir -p "$(dirname "$domain")"
  python3 -c 'import plistlib, sys; plistlib.dump({"PreferencesVersion": 3, "SeenModels": {sys.argv[2]:
  [{"HostOrComputerName": "old-board", "SerialNumber": "OLDBOARD1"}]}}, open(sys.argv[1], "wb"))' "$domain" "$model"
  xfce_login login1
  manager=$(xfce_session_manager)
  SESSION_MANAGER=$manager start kelvaro "$kelvaro"
  pid=$started
  offered() { xdotool search --onlyvisible --name '^Import Preferences$' >/dev/null; }
  wait_until 120 "the import offer did not show" offered
  screenshot xfce-import-offer
  xfce_logout
  ended_cleanly "$pid" Kelvaro "at the logout"
  grep -q '^Kelvaro: the session manager ended the session' "$scratch/kelvaro.err" || fail "no line of the session manager's end"
  python3 - "$domain" "$serial" "$model" <<'PYTHON' || fail "the logout decided the import offer"
import plistlib, sys
path, serial, model = sys.argv[1:4]
prefs = plistlib.load(open(path, "rb"))
seen = [c.get("SerialNumber") for c in prefs.get("SeenModels", {}).get(model, [])]
errors = []
if serial in prefs.get("MachinePreferences", {}):
    errors.append(f"a set was filed for {serial}")
if serial in seen or "OLDBOARD1" not in seen:
    errors.append(f"the computers seen are now {seen}")
print("\n".join(errors), file=sys.stderr)
sys.exit(1 if errors else 0)
PYTHON
  echo "XFCE: a logout left the import offer undecided"
  exit 0
fi

# --- First login: Kelvaro started in the session, as from its menu -------------------------------------------
xfce_login login1
manager=$(xfce_session_manager)
[ -n "$manager" ] || fail "the session gives its clients no SESSION_MANAGER"
# A first start: the sensor window and the overview, framed by xfwm4 within the work area, apart.
SESSION_MANAGER=$manager start_ready Kelvaro first "$kelvaro"
check_frames 2 0 xfce-first-start
quit_cleanly "$started" Kelvaro
# The next start opens four windows.
open_at_next_start SensorWindowOpen OverviewOpen SystemInfoOpen ExtremeValuesWindowOpen
SESSION_MANAGER=$manager start_ready Kelvaro kelvaro "$kelvaro"
pid=$started
wait_until 60 "the four windows did not show" window_titles Kelvaro "$scratch/titles" 4
[ "$(cat "$scratch/titles")" = "$expected" ] || fail "shown: $(tr '\n' ';' <"$scratch/titles")"
sensors=$(managed_windows Kelvaro | awk '$10 ~ /^Sensors/ { print $1 }')
expect_focus_on_sensor_window "at the next start"

check_screen_display "$sensors" xfce-login1

# --- The logout --------------------------------------------------------------------------------------------
xfce_logout
ended_cleanly "$pid" Kelvaro "at the logout"
grep -q '^Kelvaro: the session manager ended the session' "$scratch/kelvaro.err" || fail "no line of the session manager's end"
flags=$(open_flags | tr '\n' ' ')
[ "$flags" = "SensorWindowOpen=true OverviewOpen=true SystemInfoOpen=true ExtremeValuesWindowOpen=true FloatingWindowOpen=false " ] ||
  fail "recorded at the logout: $flags"
grep -rqs -- "--simulate" "$XDG_CACHE_HOME/sessions" || fail "the saved session has no restart command for Kelvaro"

# --- Second login: the session manager starts Kelvaro again ------------------------------------------------
xfce_login login2
wait_until 120 "the session did not start Kelvaro again" grep -q '^Kelvaro: monitoring ' "$scratch/login2.err"
wait_until 60 "the four windows did not come back" window_titles Kelvaro "$scratch/titles" 4
[ "$(cat "$scratch/titles")" = "$expected" ] || fail "came back: $(tr '\n' ';' <"$scratch/titles")"
expect_focus_on_sensor_window "at the login"
screenshot xfce-login2
# Every window closed as the window manager's close button does; a second start brings the sensor window.
for id in $(managed_windows Kelvaro | cut -d' ' -f1); do wmctrl -i -c "$id"; done
wait_until 30 "the windows did not close" window_titles Kelvaro "$scratch/titles" 0
status=0
timeout 60 "$kelvaro" --simulate "$computer" 2>"$scratch/second.err" || status=$?
[ "$status" -eq 0 ] || fail "the second start ended with status $status"
wait_until 30 "the second start showed no sensor window" window_titles Kelvaro "$scratch/titles" 1
[ "$(cat "$scratch/titles")" = Sensors ] || fail "the second start showed $(tr '\n' ';' <"$scratch/titles")"

xfce_logout
kelvaro_gone() { [ "$(running Kelvaro)" = 0 ]; }
wait_until 30 "Kelvaro did not end at the second logout" kelvaro_gone
grep -q '^Kelvaro: the session manager ended the session' "$scratch/login2.err" || fail "no line of the second end"
flags=$(open_flags | tr '\n' ' ')
[ "$flags" = "SensorWindowOpen=true OverviewOpen=false SystemInfoOpen=false ExtremeValuesWindowOpen=false FloatingWindowOpen=false " ] ||
  fail "recorded at the second logout: $flags"
echo "XFCE: logged out and in with the windows kept; the screen display lets clicks through and keeps off the task bar"
