#!/usr/bin/env bash
# The tray on a virtual X server with a real tray host (trayer): Kelvaro on a simulated computer, set to show
# three values in the tray, docks three icons, each drawn (not blank) and each unlike the others.
# Usage (under xvfb-run -a): kelvaro-tray-xvfb.sh KELVARO COMPUTER [SCREENSHOT]
set -euo pipefail
kelvaro=$1 computer=$2 keep=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
export LSAN_OPTIONS=suppressions=$here/../lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}
command -v trayer >/dev/null && command -v import >/dev/null || { echo "trayer or ImageMagick missing"; exit 77; }

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
fail() {
  echo "FAIL: $*" >&2
  cat "$scratch/err" >&2 2>/dev/null || true
  exit 1
}
ready() {
  for _ in $(seq 1 600); do
    grep -q '^Kelvaro: monitoring ' "$scratch/err" && return 0
    kill -0 "$1" 2>/dev/null || fail "Kelvaro ended before it was ready"
    sleep 0.1
  done
  fail "Kelvaro was not ready within 60 s"
}

trayer --edge top --align right --widthtype request --height 32 --iconspacing 4 --tint 0x303030 \
  --transparent true --alpha 0 >/dev/null 2>&1 &
pids+=($!)
sleep 1

# A first run writes the preferences of the computer; the second shows three values in the tray.
"$kelvaro" --simulate "$computer" 2>"$scratch/err" &
pid=$!
ready "$pid"
kill -TERM "$pid"
wait "$pid" || fail "the first run did not end cleanly"
python3 - "$XDG_CONFIG_HOME/kelvaro/com.tarnwell.kelvaro.plist" <<'PYTHON' || fail "no preferences to change"
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    prefs = plistlib.load(f)
prefs["MenuBarValueMode"] = 3
with open(sys.argv[1], "wb") as f:
    plistlib.dump(prefs, f)
PYTHON

"$kelvaro" --simulate "$computer" 2>"$scratch/err" &
pid=$!
pids+=($pid)
ready "$pid"
sleep 3 # a tick or two draws the values
import -window root "$scratch/screen.png"
geometry=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ { print $5; exit }')
[ -n "$geometry" ] || fail "no tray panel on the screen"
# WxH+X+Y of the panel; the icons are squares of its height, left to right.
read -r w h x y <<<"$(echo "$geometry" | sed 's/[x+]/ /g')"
convert "$scratch/screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$scratch/tray.png"
[ -z "$keep" ] || cp "$scratch/tray.png" "$keep"
python3 - "$scratch/tray.png" "$w" "$h" <<'PYTHON' || fail "the tray does not show three distinct icons"
import subprocess, sys
path, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
# Columns that are not the panel's own colour belong to icons: group them into runs.
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
icons = [i for i in icons if i[1] - i[0] >= 8]
print("icons at", icons)
assert len(icons) == 3, f"{len(icons)} icons"
images = []
for a, b in icons:
    image = [pixels[(x, y)] for x in range(a, b) for y in range(h)]
    assert len(set(image)) > 8, "an icon is blank"
    images.append(image)
assert len({tuple(i) for i in images}) == 3, "two icons are alike"
PYTHON
echo "three tray icons"
