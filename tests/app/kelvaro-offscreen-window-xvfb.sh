#!/usr/bin/env bash
# A sensor window saved beyond a smaller screen comes back onto it: a run on a 1600x1000 screen quits with its
# sensor window recorded at (1300, 860); the next start on an 800x600 screen shows at least 50x30 pixels of
# that window on the screen, and the quit records a place on the screen.
# Runs its own virtual X servers (two screen sizes). Usage: kelvaro-offscreen-window-xvfb.sh KELVARO COMPUTER
set -euo pipefail
kelvaro=$1 computer=$2
. "$(dirname "$0")/../support/session-lib.sh"
command -v xwininfo >/dev/null || { echo "SKIP: xwininfo is not installed"; exit 77; }
domain=$(preferences_file)

# The sensor window, once it is on screen: its id in $id.
sensor_window_shown() {
  id=$(xwininfo -root -children | sed -n 's/^ *\(0x[0-9a-f]*\) "Sensors[^"]*": ("Kelvaro" "Kelvaro").*/\1/p' | head -n1)
  [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep 'Map State: IsViewable' >/dev/null
}

# Starts Kelvaro, waits until it monitors and shows its windows, writes the sensor window's
# "x y width height" into $1 and quits.
run() {
  start_ready Kelvaro kelvaro "$kelvaro"
  pid=$started
  local id
  wait_until 30 "no sensor window was shown" sensor_window_shown
  # For people: the screen as it is, when asked for.
  [ -z "${KELVARO_SCREENSHOT_DIR:-}" ] || import -window root "$KELVARO_SCREENSHOT_DIR/$(basename "$1").png" || true
  xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} /Width:/ {w=$NF}
                            /Height:/ {h=$NF} /Map State/ {m=$NF} END {print x, y, w, h, m}' >"$1"
  quit_cleanly "$pid" Kelvaro
}

start_x_server 1600x1000
run "$scratch/large"
stop_x_server
[ -f "$domain" ] || fail "no preferences written"
# The user left the sensor window at (1300, 860), partly beyond the right and bottom edges.
python3 - "$domain" <<'PYTHON'
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    data = f.read()
prefs = plistlib.loads(data)
frame = prefs.get("TEVWindowFrame-StandardWindow", "0 0 300 120").split()
prefs["TEVWindowFrame-StandardWindow"] = " ".join(["1300", "860"] + frame[2:])
prefs["TEVSpecialAutosave-StandardWindow"] = "1300 860"
prefs["SensorWindowOpen"] = True
with open(sys.argv[1], "wb") as f:
    plistlib.dump(prefs, f, fmt=plistlib.FMT_BINARY if data.startswith(b"bplist") else plistlib.FMT_XML)
PYTHON

start_x_server 800x600
run "$scratch/small"
stop_x_server
read -r x y w h map <"$scratch/small"
[ "$map" = IsViewable ] || fail "the sensor window is not shown: $map"
visible_w=$(( (x + w < 800 ? x + w : 800) - (x > 0 ? x : 0) ))
visible_h=$(( (y + h < 600 ? y + h : 600) - (y > 0 ? y : 0) ))
[ "$visible_w" -ge 50 ] && [ "$visible_h" -ge 30 ] ||
  fail "the sensor window at $x,$y (${w}x$h) shows ${visible_w}x$visible_h pixels of itself on the 800x600 screen"
python3 - "$domain" <<'PYTHON' || fail "the quit on the small screen recorded a place beyond it"
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    prefs = plistlib.load(f)
x, y = (int(v) for v in prefs["TEVSpecialAutosave-StandardWindow"].split()[:2])
if not (0 <= x < 800 - 50 and 0 <= y < 600 - 30):
    sys.exit(f"recorded at {x}, {y}")
PYTHON
echo "sensor window on 800x600 at $x,$y (${w}x$h)"
