#!/usr/bin/env bash
# A sensor window saved beyond a smaller screen comes back onto it: a run on a 1600x1000 screen quits with its
# sensor window recorded at (1300, 860); the next start on an 800x600 screen shows at least 50x30 pixels of
# that window on the screen, and the quit records a place on the screen.
# Runs its own virtual X servers (two screen sizes). Usage: kelvaro-offscreen-window-xvfb.sh KELVARO COMPUTER
set -euo pipefail
kelvaro=$1 computer=$2
here=$(cd "$(dirname "$0")" && pwd)
export LSAN_OPTIONS=suppressions=$here/../lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}
command -v Xvfb >/dev/null || { echo "SKIP: Xvfb is not installed"; exit 77; }
command -v xwininfo >/dev/null || { echo "SKIP: xwininfo is not installed"; exit 77; }
export KELVARO_NONINTERACTIVE=1
unset KELVARO_SIMULATED_COMPUTER KELVARO_PRINT_OUTPUT_CACHE

scratch=$(mktemp -d)
pid='' xpid=''
cleanup() {
  [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
  [ -z "$xpid" ] || kill "$xpid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -m 700 "$scratch/runtime"
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config XDG_DATA_HOME=$scratch/home/.local/share
export XDG_CACHE_HOME=$scratch/home/.cache XDG_RUNTIME_DIR=$scratch/runtime
domain=$XDG_CONFIG_HOME/kelvaro/com.tarnwell.kelvaro.plist

fail() {
  echo "FAIL: $*" >&2
  cat "$scratch/err" >&2 || true
  exit 1
}

# A virtual X server of the given size; DISPLAY names it.
start_x() {
  rm -f "$scratch/display"
  Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp 3>"$scratch/display" 2>/dev/null &
  xpid=$!
  for _ in $(seq 1 100); do
    [ -s "$scratch/display" ] && break
    sleep 0.1
  done
  [ -s "$scratch/display" ] || fail "Xvfb did not start"
  export DISPLAY=:$(head -n1 "$scratch/display")
}
stop_x() {
  kill "$xpid" 2>/dev/null || true
  wait "$xpid" 2>/dev/null || true
  xpid=''
}

# Starts Kelvaro, waits until it monitors and shows its windows, writes the sensor window's
# "x y width height" into $1 and quits.
run() {
  "$kelvaro" --simulate "$computer" >/dev/null 2>"$scratch/err" &
  pid=$!
  local deadline=$((SECONDS + 60))
  until grep -q '^Kelvaro: monitoring ' "$scratch/err"; do
    kill -0 "$pid" 2>/dev/null || fail "Kelvaro ended before it was ready on $DISPLAY"
    [ "$SECONDS" -lt "$deadline" ] || fail "Kelvaro was not ready within 60 s on $DISPLAY"
    sleep 0.1
  done
  sleep 2
  local id
  id=$(xwininfo -root -children | sed -n 's/^ *\(0x[0-9a-f]*\) "Sensors[^"]*": ("Kelvaro" "Kelvaro").*/\1/p' | head -n1)
  [ -n "$id" ] || fail "no sensor window"
  # For people: the screen as it is, when asked for.
  [ -z "${KELVARO_SCREENSHOT_DIR:-}" ] || import -window root "$KELVARO_SCREENSHOT_DIR/$(basename "$1").png" || true
  xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} /Width:/ {w=$NF}
                            /Height:/ {h=$NF} /Map State/ {m=$NF} END {print x, y, w, h, m}' >"$1"
  kill -TERM "$pid"
  wait "$pid" || fail "exit status $? after SIGTERM"
  pid=''
}

start_x 1600x1000
run "$scratch/large"
stop_x
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

start_x 800x600
run "$scratch/small"
stop_x
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
