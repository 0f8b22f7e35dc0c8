#!/usr/bin/env bash
# Kelvaro on sway (headless), a tiling compositor, MODE "native" (a Wayland client) or "xwayland" (an X11
# client of sway's X server): the start-up alerts of a computer without sensors (one after the other), its
# empty screen display, and
# the "Sensor Alert" panel of a sensor over its limit float over the tiles instead of becoming tiles, and so
# does the tray's menu that swaybar (a tray host without menus of its own) asks for with ContextMenu; the
# colour question lies over the screen display on the desktop, also after a press where the display lies. Sway
# refuses to run as root: it, its session bus and the program run as the unprivileged user "nobody", in the
# script's folders. The sensor window and the overview become tiles, whose sizes are not stored as theirs.
# Usage: kelvaro-sway.sh KELVARO FIXTURES MODE
set -euo pipefail
kelvaro=$1 fixtures=$2 mode=$3
. "$(dirname "$0")/../support/session-lib.sh"
command -v sway >/dev/null && command -v swaymsg >/dev/null || { echo "SKIP: sway is not installed"; exit 77; }
command -v setpriv >/dev/null || { echo "SKIP: setpriv is not installed"; exit 77; }
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 ||
  { echo "SKIP: qt6-wayland is not installed"; exit 77; }
if [ "$mode" = xwayland ]; then
  command -v Xwayland >/dev/null || { echo "SKIP: xwayland is not installed"; exit 77; }
  # Sway's X server binds its socket here, but does not make the folder.
  [ -d /tmp/.X11-unix ] || mkdir -m 1777 /tmp/.X11-unix
fi
user=$(id -u nobody) group=$(id -g nobody)
# Runs a command as that user, in this script's environment: "${as_user[@]}" COMMAND [ARGS...]. Not a function:
# one started in the background would be a shell of its own, and signals sent to it would not reach the command.
as_user=(setpriv --reuid="$user" --regid="$group" --clear-groups)
chown -R "$user:$group" "$scratch"
"${as_user[@]}" test -w "$XDG_RUNTIME_DIR" || { echo "SKIP: nobody cannot use the script's folders"; exit 77; }
unset DISPLAY WAYLAND_DISPLAY
# The user's session bus, for swaybar's tray.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
"${as_user[@]}" dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" >"$scratch/bus.log" 2>&1 &
pids+=($!)
wait_until 30 "the session bus did not start" test -S "$XDG_RUNTIME_DIR/bus"

cat >"$scratch/sway.config" <<EOF
output HEADLESS-1 resolution 1600x1000
xwayland $([ "$mode" = xwayland ] && echo enable || echo disable)
bar {
  position top
  tray_output *
}
EOF
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman "${as_user[@]}" sway -c "$scratch/sway.config" \
  >"$scratch/sway.log" 2>&1 &
pids+=($!)
sway_ready() { compgen -G "$XDG_RUNTIME_DIR/wayland-*[0-9]" >/dev/null && compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*.sock" >/dev/null; }
wait_until 30 "sway did not start" sway_ready
export WAYLAND_DISPLAY SWAYSOCK
WAYLAND_DISPLAY=$(basename "$(compgen -G "$XDG_RUNTIME_DIR/wayland-*[0-9]" | head -1)")
SWAYSOCK=$(compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*.sock" | head -1)
if [ "$mode" = xwayland ]; then
  # Sway gives its X server's display to the programs it starts.
  "${as_user[@]}" swaymsg -q exec "echo \$DISPLAY >$scratch/display.new && mv $scratch/display.new $scratch/display"
  wait_until 30 "sway did not tell its X server's display" test -s "$scratch/display"
  export DISPLAY=$(cat "$scratch/display") QT_QPA_PLATFORM=xcb
else
  export QT_QPA_PLATFORM=wayland
  # As on weston: the Wayland plugin's objects, kept to the end of the process, are not the program's leaks.
  export ASAN_OPTIONS=fast_unwind_on_malloc=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}
  { cat "$(dirname "$0")/../lsan.supp"
    printf '%s\n' leak:libwayland-client.so leak:libQt6WaylandClient.so leak:__pthread_once_slow; } >"$scratch/lsan.supp"
  export LSAN_OPTIONS=suppressions=$scratch/lsan.supp:print_suppressions=0
fi

# The windows on sway, one a line: "floating TITLE" or "tiled TITLE".
windows() {
  "${as_user[@]}" swaymsg -t get_tree 2>/dev/null | python3 -c '
import json, sys
def walk(node, floating):
    if node.get("type") in ("con", "floating_con") and node.get("name") is not None and not node.get("nodes"):
        print(("floating " if floating else "tiled ") + node["name"])
    for child in node.get("nodes", []): walk(child, floating)
    for child in node.get("floating_nodes", []): walk(child, True)
walk(json.load(sys.stdin), False)' || true
}
# The start-up alerts on sway, one a line: "CON_ID WIDTHxHEIGHT". The alerts are titled after the program, as
# the screen display is, which keeps the 100 px square of a display without a text here.
alerts() {
  "${as_user[@]}" swaymsg -t get_tree 2>/dev/null | python3 -c '
import json, sys
def walk(node):
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        rect = child.get("window_rect") or child.get("rect")
        if child.get("name") == "Kelvaro" and not child.get("nodes") and rect["width"] > 100:
            print(child["id"], "%dx%d" % (rect["width"], rect["height"]))
        walk(child)
walk(json.load(sys.stdin))' || true
}
screenshot() {
  [ -n "${KELVARO_SCREENSHOT_DIR:-}" ] || return 0
  "${as_user[@]}" grim "$scratch/shot.png" 2>/dev/null && cp "$scratch/shot.png" "$KELVARO_SCREENSHOT_DIR/sway-$mode-$1.png" || true
}
store_preferences() {
  mkdir -p "$(dirname "$(preferences_file)")"
  python3 -c 'import plistlib,sys; plistlib.dump(eval(sys.argv[2]), open(sys.argv[1],"wb"))' "$(preferences_file)" "$1"
  chown -R "$user:$group" "$XDG_CONFIG_HOME"
}
# Starts Kelvaro as the user, as session-lib's start_ready. Usage: start_kelvaro LOG
start_kelvaro() {
  : >"$scratch/$1.out"
  : >"$scratch/$1.err"
  "${as_user[@]}" "$kelvaro" --simulate "$computer" >>"$scratch/$1.out" 2>>"$scratch/$1.err" &
  started=$!
  pids+=("$started")
  wait_ready "$started" "$scratch/$1.err" Kelvaro
}
# Every window but the sensor window floats. Usage: all_float WHAT
all_float() {
  windows >"$scratch/windows"
  grep -v '^floating \|^tiled Sensors$' "$scratch/windows" >&2 && fail "$1 became a tile, the windows:"$'\n'"$(cat "$scratch/windows")"
  return 0
}

# A computer without sensors: two alerts at the start, and the screen display has nothing to show.
computer=$fixtures/vm
store_preferences "{'PreferencesVersion': 3, 'SensorWindowOpen': True, 'FloatingWindowOpen': True}"
# The alerts wait for an answer.
unset KELVARO_NONINTERACTIVE
start_kelvaro alerts
export KELVARO_NONINTERACTIVE=1
pid=$started
# An alert and the screen display, both titled after the program, and the sensor window.
shown() { windows >"$scratch/windows"; [ "$(grep -c ' Kelvaro$' "$scratch/windows")" -ge 2 ] && grep -qx '.* Sensors' "$scratch/windows"; }
wait_until 60 "an alert and the screen display were not shown" shown
screenshot alerts
all_float "an alert or the empty screen display"
# The two alerts one after the other: sway floats each at the centre, where the second would hide the first.
# Closed (as its close button does), the first is answered and the second shows.
alerts >"$scratch/alerts"
[ "$(wc -l <"$scratch/alerts")" -eq 1 ] || fail "not one alert at a time, but:"$'\n'"$(cat "$scratch/alerts")"
read -r first _ <"$scratch/alerts"
"${as_user[@]}" swaymsg -q "[con_id=$first] kill" || fail "sway did not close the first alert"
next_shown() { alerts >"$scratch/alerts"; [ -s "$scratch/alerts" ] && ! grep -q "^$first " "$scratch/alerts"; }
wait_until 60 "the second alert did not follow the first" next_shown
screenshot second-alert
[ "$(wc -l <"$scratch/alerts")" -eq 1 ] || fail "not one alert at a time, but:"$'\n'"$(cat "$scratch/alerts")"
all_float "the second alert"
quit_cleanly "$pid" Kelvaro

# A sensor over the limit it has an alert for, once the program has written its gauges.
computer=$fixtures/portable
start_kelvaro gauges
quit_cleanly "$started" Kelvaro
python3 - "$(preferences_file)" <<'EOF'
import plistlib, sys
prefs = plistlib.load(open(sys.argv[1], "rb"))
machine = next(m for m in prefs["MachinePreferences"].values() if m.get("AvailableGauges"))
gauge_id, gauge = next((i, g) for i, g in machine["AvailableGauges"].items() if g.get("SensorEnabled", True))
gauge.update(HighTriggerEnabled=True, HighThreshold=-1000.0)
machine.update(Triggers=[gauge_id], AlertOpensPanel=True, AlertPlaySound=False, AlertUsesVoice=False, AlertSendsGrowl=False)
prefs["MenuBarValueMode"] = 1
plistlib.dump(prefs, open(sys.argv[1], "wb"))
EOF
start_kelvaro panel
panel_shown() { windows >"$scratch/windows"; grep -q ' Sensor Alert$' "$scratch/windows" && [ "$(grep -c ' Kelvaro$' "$scratch/windows")" -ge 1 ]; }
wait_until 60 "the Sensor Alert panel and the screen display were not shown" panel_shown
screenshot panel
all_float "the Sensor Alert panel or the screen display"

# Swaybar has no menus of its own: either button calls ContextMenu with the place of the click, as here (a
# headless sway has no pointer to click with).
items() {
  "${as_user[@]}" dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
    org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher string:RegisteredStatusNotifierItems 2>/dev/null |
    sed -n 's/.*string "\(:[0-9.]*\)\(\/.*\)"/\1 \2/p' >"$scratch/items" || true
  [ -s "$scratch/items" ]
}
wait_until 60 "no tray icon was registered with swaybar" items
# Natively the menu is a window of its own, in sway's tree; on XWayland a popup, a visible X window of the
# program's that sway leaves out of its tree.
x_windows() { "${as_user[@]}" xdotool search --onlyvisible --pid "$started" 2>/dev/null | wc -l; }
shown_now() {
  if [ "$mode" = native ]; then windows | grep -c ' Kelvaro$' || true; else x_windows; fi
}
before=$(shown_now)
read -r service path <"$scratch/items"
"${as_user[@]}" dbus-send --session --print-reply --dest="$service" "$path" org.kde.StatusNotifierItem.ContextMenu \
  int32:1585 int32:10 >/dev/null || fail "ContextMenu was not answered"
menu_shown() { [ "$(shown_now)" -gt "$before" ]; }
wait_until 60 "the tray's menu was not shown" menu_shown
screenshot menu
all_float "the tray's menu"
quit_cleanly "$started" Kelvaro

# The screen display on the desktop, where sway keeps nothing below the windows: the colour question of a start
# lies over it, also after a press where the display lies (sway raises a floating window that takes it).
rm -rf "$XDG_CONFIG_HOME/kelvaro"
start_kelvaro first
quit_cleanly "$started" Kelvaro
python3 - "$(preferences_file)" <<'EOF2'
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    data = f.read()
prefs = plistlib.loads(data)
prefs.update(SensorWindowOpen=True, FloatingWindowOpen=True, OverviewOpen=False)
for machine in prefs["MachinePreferences"].values():
    machine["ScreenWindowIsBackdrop"] = True
with open(sys.argv[1], "wb") as f:
    plistlib.dump(prefs, f, fmt=plistlib.FMT_BINARY if data.startswith(b"bplist") else plistlib.FMT_XML)
EOF2
chown -R "$user:$group" "$XDG_CONFIG_HOME"
# The floating windows titled after the program, from the top down: "CON_ID X Y WIDTH HEIGHT".
floating_kelvaro() {
  "${as_user[@]}" swaymsg -t get_tree 2>/dev/null | python3 -c '
import json, sys
found = []
def walk(node):
    for child in node.get("floating_nodes", []):
        if child.get("name") == "Kelvaro":
            r = child["rect"]
            found.append("%d %d %d %d %d" % (child["id"], r["x"], r["y"], r["width"], r["height"]))
    for child in node.get("nodes", []): walk(child)
walk(json.load(sys.stdin))
print("\n".join(reversed(found)))' || true
}
unset KELVARO_NONINTERACTIVE
start_kelvaro backdrop
export KELVARO_NONINTERACTIVE=1
# The display spans the portable's values (over 1000 px), the question is narrower.
question_on_top() { floating_kelvaro >"$scratch/floating"; [ -s "$scratch/floating" ] && [ "$(head -1 "$scratch/floating" | cut -d' ' -f4)" -lt 1000 ]; }
question_shown() { question_on_top && windows | grep -qx 'tiled Sensors'; }
wait_until 60 "the colour question was not shown over the screen display" question_shown
# A press where the display lies, outside the question (a headless sway moves its own pointer).
for command in "cursor set 100 100" "cursor press button1" "cursor release button1"; do
  "${as_user[@]}" swaymsg -q "seat seat0 $command" || fail "sway did not take '$command'"
done
screenshot backdrop-press
question_on_top || fail "a press raised the screen display over the question, from the top down:"$'\n'"$(cat "$scratch/floating")"
read -r question _ <"$scratch/floating"
"${as_user[@]}" swaymsg -q "[con_id=$question] kill" || fail "sway did not close the question"
display_back() { floating_kelvaro >"$scratch/floating"; [ "$(head -1 "$scratch/floating" | cut -d' ' -f4)" -ge 1000 ] 2>/dev/null; }
# Natively sway offers the layer shell: the display lies in the desktop's layer, none of its windows, and its
# red text shows on the screen.
display_drawn() {
  "${as_user[@]}" grim -t ppm - 2>/dev/null | python3 -c '
import re, sys
data = sys.stdin.buffer.read()
header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
pixels = data[header.end():] if header else b""
red = sum(1 for i in range(0, len(pixels) - 2, 3) if pixels[i] > 170 and pixels[i + 1] < 70 and pixels[i + 2] < 70)
sys.exit(0 if red > 2000 else 1)'
}
[ "$mode" = native ] && display_back() { floating_kelvaro >"$scratch/floating"; ! grep -q . "$scratch/floating" && display_drawn; }
wait_until 60 "the screen display did not come back once the question was answered" display_back
screenshot backdrop-answered
quit_cleanly "$started" Kelvaro

# The sensor window and the overview become tiles: the sizes sway gives them are not stored as the user's.
store_preferences "{'PreferencesVersion': 3, 'SensorWindowOpen': True, 'OverviewOpen': True,
  'TEVWindowFrame-StandardWindow': '210 230 640 140', 'TEVSpecialAutosave-StandardWindow': '210 230',
  'TEVWindowFrame-SensorOverview': '700 150 520 420'}"
start_kelvaro tiles
tiled() { windows >"$scratch/windows"; grep -qx 'tiled Sensors' "$scratch/windows" && grep -q '^tiled Sensor Overview' "$scratch/windows"; }
wait_until 60 "the sensor window and the overview did not become tiles" tiled
# Until sway has given both their tiles' sizes.
tile_sizes() {
  "${as_user[@]}" swaymsg -t get_tree 2>/dev/null | python3 -c '
import json, sys
def walk(node):
    if node.get("name") in ("Sensors",) or str(node.get("name", "")).startswith("Sensor Overview"):
        r = node["window_rect"]
        print(node["name"].split(" - ")[0], r["width"], r["height"])
    for child in node.get("nodes", []) + node.get("floating_nodes", []): walk(child)
walk(json.load(sys.stdin))' >"$scratch/tiles" || true
  [ "$(grep -c . "$scratch/tiles")" -ge 2 ] && ! grep -q ' 520 420$' "$scratch/tiles"
}
wait_until 60 "sway did not size the tiles" tile_sizes
screenshot tiles
quit_cleanly "$started" Kelvaro
frames=$(python3 -c 'import plistlib,sys; p = plistlib.load(open(sys.argv[1],"rb"))
print(p.get("TEVWindowFrame-StandardWindow"), "/", p.get("TEVWindowFrame-SensorOverview"))' "$(preferences_file)")
echo "tiles: $(tr '\n' ';' <"$scratch/tiles") stored: $frames"
case "$frames" in "210 230 640 "*" / 700 150 520 420") ;; *) fail "the tiles' sizes were stored: $frames" ;; esac
echo "alerts one after the other, screen display, Sensor Alert panel and the tray's menu float on sway ($mode)," \
  "the question over the display on the desktop, tile sizes are not stored: passed"
