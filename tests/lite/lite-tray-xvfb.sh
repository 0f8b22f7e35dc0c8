#!/usr/bin/env bash
# Kelvaro and KelvaroLite at once on one simulated computer, on a virtual X server with a real tray host
# (trayer): both dock three icons; when Kelvaro quits and writes its preferences, Lite shows its notice, its
# three icons stay, and Lite's quit leaves Kelvaro's preferences as Kelvaro wrote them.
# Usage (under xvfb-run -a): lite-tray-xvfb.sh KELVARO KELVAROLITE COMPUTER [SCREENSHOT]
set -euo pipefail
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  exec dbus-run-session -- "$0" "$@"
fi
kelvaro=$1 lite=$2 computer=$3 keep=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
export LSAN_OPTIONS=suppressions=$here/../lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}
command -v trayer >/dev/null && command -v import >/dev/null && command -v xwininfo >/dev/null \
  || { echo "trayer, ImageMagick or xwininfo missing"; exit 77; }

scratch=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data XDG_CACHE_HOME=$scratch/cache
export XDG_RUNTIME_DIR=$scratch/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export KELVARO_NONINTERACTIVE=1
unset KELVARO_SIMULATED_COMPUTER KELVARO_PRINT_OUTPUT_CACHE
prefs=$XDG_CONFIG_HOME/kelvaro/com.tarnwell.kelvaro.plist
fail() {
  echo "FAIL: $*" >&2
  for f in "$scratch"/*.err; do echo "--- $f" >&2; cat "$f" >&2; done
  exit 1
}
ready() { # PID LOGFILE PROGRAM
  for _ in $(seq 1 600); do
    grep -q "^$3: monitoring " "$2" && return 0
    kill -0 "$1" 2>/dev/null || fail "$3 ended before it was ready"
    sleep 0.1
  done
  fail "$3 was not ready within 60 s"
}
# Icons in the tray panel, as "count" on standard output.
count_icons() {
  import -window root "$scratch/screen.png"
  local geometry
  geometry=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ { print $5; exit }')
  [ -n "$geometry" ] || fail "no tray panel on the screen"
  read -r w h x y <<<"$(echo "$geometry" | sed 's/[x+]/ /g')"
  convert "$scratch/screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$scratch/tray.png"
  python3 - "$scratch/tray.png" "$w" "$h" <<'PYTHON'
import subprocess, sys
path, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
out = subprocess.run(["convert", path, "-depth", "8", "txt:-"], capture_output=True, text=True, check=True).stdout
pixels = {}
for line in out.splitlines()[1:]:
    coords, rest = line.split(":", 1)
    x, y = map(int, coords.split(","))
    pixels[(x, y)] = rest.split("#")[1][:6]
background = pixels[(0, h // 2)]
columns = [any(pixels[(x, y)] != background for y in range(h)) for x in range(w)]
icons, start = [], None
for x, used in enumerate(columns + [False]):
    if used and start is None:
        start = x
    elif not used and start is not None:
        icons.append((start, x))
        start = None
icons = [i for i in icons if i[1] - i[0] >= 8 and len({pixels[(x, y)] for x in range(*i) for y in range(h)}) > 8]
print(len(icons))
PYTHON
}
wait_icons() { # COUNT
  local n=0
  for _ in $(seq 1 40); do
    n=$(count_icons)
    [ "$n" = "$1" ] && return 0
    sleep 0.5
  done
  fail "the tray shows $n drawn icons, not $1"
}

trayer --edge top --align right --widthtype request --height 32 --iconspacing 4 --tint 0x303030 \
  --transparent true --alpha 0 >/dev/null 2>&1 &
pids+=($!)
sleep 1

# A first run of Kelvaro writes the computer's preferences; then both programs show three values.
"$kelvaro" --simulate "$computer" 2>"$scratch/kelvaro.err" &
pid=$!
ready "$pid" "$scratch/kelvaro.err" Kelvaro
kill -TERM "$pid"
wait "$pid" || fail "the first run of Kelvaro did not end cleanly"
python3 - "$prefs" <<'PYTHON' || fail "no preferences to change"
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    prefs = plistlib.load(f)
prefs["MenuBarValueMode"] = 3
with open(sys.argv[1], "wb") as f:
    plistlib.dump(prefs, f)
PYTHON

"$kelvaro" --simulate "$computer" 2>"$scratch/kelvaro.err" &
kelvaro_pid=$!
pids+=($kelvaro_pid)
"$lite" --simulate "$computer" 2>"$scratch/lite.err" &
lite_pid=$!
pids+=($lite_pid)
ready "$kelvaro_pid" "$scratch/kelvaro.err" Kelvaro
ready "$lite_pid" "$scratch/lite.err" KelvaroLite
wait_icons 6

# Kelvaro's quit writes its preferences and announces it: Lite shows its notice and keeps its icons.
kill -TERM "$kelvaro_pid"
wait "$kelvaro_pid" || fail "Kelvaro did not end cleanly"
written=$(sha256sum "$prefs")
for _ in $(seq 1 100); do
  xwininfo -root -tree | grep -q '"Kelvaro": (' && break
  sleep 0.1
done
xwininfo -root -tree | grep -q '"Kelvaro": (' || fail "Lite showed no preference notice"
wait_icons 3
[ -z "$keep" ] || cp "$scratch/tray.png" "$keep"

kill -TERM "$lite_pid"
wait "$lite_pid" || fail "KelvaroLite did not end cleanly"
[ "$(sha256sum "$prefs")" = "$written" ] || fail "KelvaroLite changed Kelvaro's preferences"
grep -q "Internal bundle identification error" "$scratch/lite.err" && fail "Lite did not know its domain"
echo "both programs in the tray; Lite's notice shown; Kelvaro's preferences untouched by Lite"
