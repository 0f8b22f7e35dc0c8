#!/usr/bin/env bash
# Every window of a start lies within its screen, and the screen display shows all its values: for the
# simulated COMPUTER, a first start on 1600x1000 (no window over another), a start with the screen display
# showing every value, the same on a 1280x800 screen with the frames saved on the larger one, once more on
# 1600x1000 (the sensor window as wide as before), and a first start on 1280x800. Checks each shown window's
# frame and the screen display's shape (xwininfo -shape); with KELVARO_SCREENSHOT_DIR set it keeps a picture
# of each start there.
# Runs its own virtual X servers and tray host (trayer). Usage: kelvaro-windows-on-screen-xvfb.sh KELVARO COMPUTER
set -euo pipefail
kelvaro=$1 computer=$2
. "$(dirname "$0")/../support/session-lib.sh"
. "$(dirname "$0")/../support/tray-xvfb-lib.sh"
command -v xwininfo >/dev/null || { echo "SKIP: xwininfo is not installed"; exit 77; }
command -v trayer >/dev/null || { echo "SKIP: trayer is not installed"; exit 77; }
domain=$(preferences_file)

# The program's shown top-level windows, one line each: "x y width height shape-extents title"
# ("-" for a window without a shape).
shown_windows() {
  local id
  for id in $(xwininfo -root -children | sed -n 's/^ *\(0x[0-9a-f]*\) .*("Kelvaro" "Kelvaro").*/\1/p'); do
    xwininfo -id "$id" -shape | awk -v id="$id" '
      /^xwininfo: Window id:/ { t = $0; sub(/^[^"]*"/, "", t); sub(/"[^"]*$/, "", t) }
      /Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
      /^  Width:/ { w = $NF } /^  Height:/ { h = $NF } /Map State/ { m = $NF }
      /Window shape extents/ { s = $NF }
      END { if (m == "IsViewable") print x, y, w, h, (s == "" ? "-" : s), t }'
  done
}

# Problems of the shown windows on a WIDTHxHEIGHT screen, none when all is well: a window beyond the screen,
# a screen display whose shape misses its text, with FIRST set two windows that overlap, and windows missing.
# Usage: problems SIZE FIRST EXPECT-SCREEN-DISPLAY
problems() {
  local W=${1%x*} H=${1#*x}
  shown_windows >"$scratch/windows"
  python3 - "$scratch/windows" "$W" "$H" "$2" "$3" <<'PYTHON'
import re, sys
path, W, H, first, display = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4] == "1", sys.argv[5] == "1"
windows = []
for line in open(path):
    x, y, w, h, shape, title = line.rstrip("\n").split(" ", 5)
    windows.append((int(x), int(y), int(w), int(h), shape, title))
found = []
titles = [t for *_, t in windows]
if not any(t.startswith("Sensors") for t in titles):
    found.append("no sensor window")
if not any(t.startswith("Sensor Overview") for t in titles):
    found.append("no overview")
screen = [win for win in windows if win[5] == "Kelvaro" and win[2] > 1]
if display and not screen:
    found.append("no screen display")
for x, y, w, h, shape, title in windows:
    if x < 0 or y < 0 or x + w > W or y + h > H:
        found.append(f"'{title}' {w}x{h}+{x}+{y} runs past the {W}x{H} screen")
for x, y, w, h, shape, title in screen:
    m = re.fullmatch(r"(\d+)x(\d+)\+(-?\d+)\+(-?\d+)", shape)
    sw, sh, sx, sy = map(int, m.groups()) if m else (0, 0, 0, 0)
    # The text fills the window but for its margins: its shape spans most of it.
    if sw < 0.75 * w or sh < 0.75 * h or sx < 0 or sy < 0 or sx + sw > w or sy + sh > h:
        found.append(f"the screen display {w}x{h} has the shape {shape}: its values do not show")
if first:
    for i, a in enumerate(windows):
        for b in windows[i + 1:]:
            if a[0] < b[0] + b[2] and b[0] < a[0] + a[2] and a[1] < b[1] + b[3] and b[1] < a[1] + a[3]:
                found.append(f"'{a[5]}' {a[2]}x{a[3]}+{a[0]}+{a[1]} and '{b[5]}' {b[2]}x{b[3]}+{b[0]}+{b[1]} overlap")
print("\n".join(found))
PYTHON
}

# Starts Kelvaro on a SIZE screen, waits until its windows show as they should (a minute at most), keeps a
# picture named NAME where asked, and quits. Usage: check_start SIZE NAME FIRST EXPECT-SCREEN-DISPLAY
check_start() {
  start_x_server "$1"
  start_tray_host
  start_ready Kelvaro kelvaro "$kelvaro"
  local pid=$started found
  for _ in $(seq 1 300); do
    found=$(problems "$1" "$3" "$4")
    [ -n "$found" ] || break
    sleep 0.2
  done
  [ -z "${KELVARO_SCREENSHOT_DIR:-}" ] || import -window root "$KELVARO_SCREENSHOT_DIR/$(basename "$computer")-$2.png" || true
  [ -z "$found" ] || fail "$(basename "$computer") $2 on $1:"$'\n'"$found"$'\n'"$(cat "$scratch/windows")"
  echo "$(basename "$computer") $2 on $1:"
  sed 's/^/  /' "$scratch/windows"
  quit_cleanly "$pid" Kelvaro
  stop_tray_host
  stop_x_server
}

# The screen display opens at the next start with every value of the computer.
show_screen_display() {
  python3 - "$domain" <<'PYTHON' || fail "no preferences to change"
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    data = f.read()
prefs = plistlib.loads(data)
prefs["FloatingWindowOpen"] = True
for machine in prefs["MachinePreferences"].values():
    machine["FloatingWindowSensors"] = list(machine["AvailableGauges"].keys())
with open(sys.argv[1], "wb") as f:
    plistlib.dump(prefs, f, fmt=plistlib.FMT_BINARY if data.startswith(b"bplist") else plistlib.FMT_XML)
PYTHON
}

# The sensor window's width in the last start checked.
sensor_width() { awk '$6 ~ /^Sensors/ { print $3 }' "$scratch/windows"; }

check_start 1600x1000 first-1600x1000 1 0
show_screen_display
check_start 1600x1000 screen-display-1600x1000 0 1
wide=$(sensor_width)
check_start 1280x800 screen-display-1280x800 0 1
# Back on the larger screen, the sensor window that the smaller one cut is as wide as before.
check_start 1600x1000 screen-display-1600x1000-again 0 1
[ "$(sensor_width)" = "$wide" ] || fail "the sensor window came back $(sensor_width) pixels wide on 1600x1000, not $wide"
rm -f "$domain"
check_start 1280x800 first-1280x800 1 0
