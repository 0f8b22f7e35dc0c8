# Shared by the tray scripts under Xvfb (sourced; needs $scratch, fail() and a display): a real tray host
# (trayer), the icons it docks as seen on the screen, the colours of the three test slots, and the menu a
# click on an icon opens. $tray_window is the host's panel as xwininfo names it (xfce-panel-lib.sh sets it).
tray_window='"panel": ("panel" "trayer")'

# Starts the tray host and waits until its panel is on the screen. Its standard error goes with the failure
# output; a host that ends before its panel shows is started once more, as test equipment, not the program.
start_tray_host() {
  local attempt until
  for attempt in 1 2; do
    trayer --edge top --align right --widthtype request --height 32 --iconspacing 4 --tint 0x303030 \
      --transparent true --alpha 0 >/dev/null 2>>"$scratch/trayer.err" &
    tray_pid=$!
    pids+=("$tray_pid")
    until=$((SECONDS + 60))
    while ! tray_panel_shown; do
      if ! kill -0 "$tray_pid" 2>/dev/null; then
        echo "trayer ended before its panel showed (attempt $attempt)" >>"$scratch/trayer.err"
        continue 2
      fi
      [ "$SECONDS" -lt "$until" ] || fail "the tray host shows no panel within 60 s"
      sleep 0.1
    done
    return 0
  done
  fail "the tray host ended twice before its panel showed"
}

# True once the tray host's panel is on the screen.
tray_panel_shown() { xwininfo -root -tree | grep -F "$tray_window" >/dev/null; }

stop_tray_host() {
  kill -TERM "$tray_pid" 2>/dev/null || true
  wait "$tray_pid" 2>/dev/null || true
}

# Shows three values (or COUNT), the first three of the tray list in red, green and blue: the icons tell their
# slot by their colour. Usage: show_three_coloured_values PREFERENCES-PLIST [COUNT]
show_three_coloured_values() {
  python3 - "$1" "${2:-3}" <<'PYTHON' || fail "no preferences to change"
import plistlib, struct, sys
with open(sys.argv[1], "rb") as f:
    prefs = plistlib.load(f)
prefs["MenuBarValueMode"] = int(sys.argv[2])
# An archived colour: calibrated RGB and alpha, each a float (0 and 1 stored as one byte).
head = (b"\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x07NSColor\x00\x84\x84\x08NSObject\x00\x85"
        b"\x84\x01c\x01\x84\x04ffff")
def component(value):
    return bytes([value]) if value in (0, 1) else b"\x83" + struct.pack("<f", value)
for machine in prefs["MachinePreferences"].values():
    machine["MenuBarUsesColor"] = True
    for name, rgb in zip(machine["MenuBarSensors"], ((0.75, 0.1, 0.1), (0.05, 0.5, 0.1), (0.1, 0.2, 0.85))):
        machine["AvailableGauges"][name]["Color"] = head + b"".join(map(component, rgb + (1,))) + b"\x86"
with open(sys.argv[1], "wb") as f:
    plistlib.dump(prefs, f)
PYTHON
}

# Kelvaro's first run writes the computer's preferences, which Lite reads too; then they show COUNT values
# (three unless given) in the slot colours. Usage: first_run_with_coloured_values KELVARO [COUNT]
first_run_with_coloured_values() {
  start_ready Kelvaro kelvaro "$1"
  quit_cleanly "$started" "the first run of Kelvaro"
  show_three_coloured_values "$(preferences_file)" "${2:-3}"
}

# The drawn icons in the tray panel, left to right, one line each: "X WIDTH COLOUR" with X on the screen and
# COLOUR the slot colour most of its pixels have (red, green, blue or other).
tray_icons() {
  import -window root "$scratch/screen.png"
  local geometry
  geometry=$(xwininfo -root -tree | awk -v w="$tray_window" 'index($0, w) { print $5; exit }')
  [ -n "$geometry" ] || return 0
  local w h x y
  read -r w h x y <<<"$(echo "$geometry" | sed 's/[x+]/ /g')"
  convert "$scratch/screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$scratch/tray.png"
  python3 - "$scratch/tray.png" "$w" "$h" "$x" <<'PYTHON'
import subprocess, sys
path, w, h, left = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
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
for a, b in icons:
    colours = {pixels[(x, y)] for x in range(a, b) for y in range(h)}
    if b - a < 8 or len(colours) <= 8:
        continue
    votes = {"red": 0, "green": 0, "blue": 0}
    for x in range(a, b):
        for y in range(h):
            r, g, bl = (int(pixels[(x, y)][i:i + 2], 16) for i in (0, 2, 4))
            for name, (c, o1, o2) in {"red": (r, g, bl), "green": (g, r, bl), "blue": (bl, r, g)}.items():
                if c > 120 and c > o1 + 80 and c > o2 + 80:
                    votes[name] += 1
    best = max(votes, key=votes.get)
    print(left + a, b - a, best if votes[best] > 10 else "other")
PYTHON
}

# Waits until the tray shows COUNT drawn icons; with COLOURS, also that they read so from left to right.
# Usage: wait_tray_icons COUNT [COLOURS...]
wait_tray_icons() {
  local count=$1 seen="" until=$((SECONDS + 60))
  shift
  while [ "$SECONDS" -lt "$until" ]; do
    seen=$(tray_icons)
    if [ "$(printf '%s' "$seen" | grep -c .)" = "$count" ]; then
      [ $# -eq 0 ] && return 0
      [ "$(echo "$seen" | awk '{ print $3 }' | xargs)" = "$*" ] && return 0
    fi
    sleep 0.5
  done
  fail "the tray shows, left to right: $(echo "$seen" | awk '{ print $3 }' | xargs) (expected $count icons${1:+: $*})"
}

# The size of the menu window a click with BUTTON on the icon at X opens ("WIDTHxHEIGHT"); the menu is
# closed again. Usage: menu_of_click X BUTTON
menu_of_click() {
  local x=$(($1 + 8)) size="" last="" until=$((SECONDS + 30)) again=$((SECONDS + 10))
  xdotool mousemove "$x" 16 click "$2"
  # Until it keeps its size: a tray host that shows the menu itself fills it as the items come over the bus.
  while { [ -z "$size" ] || [ "$size" != "$last" ]; } && [ "$SECONDS" -lt "$until" ]; do
    sleep 0.25
    last=$size
    size=$(open_menu_size)
    # A click that came while the host still held the pointer for the menu before is lost: once more.
    if [ -z "$size" ] && [ "$SECONDS" -ge "$again" ]; then
      xdotool mousemove "$x" 16 click "$2"
      again=$((SECONDS + 10))
    fi
  done
  # Until it is gone, so that the next click does not land on it: a menu that has not taken the keyboard yet
  # misses the key.
  until=$((SECONDS + 30))
  while [ -n "$(open_menu_size)" ] && [ "$SECONDS" -lt "$until" ]; do
    xdotool key Escape
    sleep 0.2
  done
  echo "$size"
}

# The size of the menu on the screen ("WIDTHxHEIGHT"), or nothing: the tallest popup over 100 px. Icons are
# small, and the tooltip the pointer raises over an icon (a popup too) is a line or two of text, while the
# tray's menu holds a dozen items or more.
open_menu_size() {
  local id
  for id in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
    xwininfo -id "$id" 2>/dev/null | awk '/Override Redirect State: yes/ { o = 1 } /Width:/ { w = $2 } /Height:/ { h = $2 }
      END { if (o && w > 40 && h > 100) print h, w "x" h }'
  done | sort -n | tail -n 1 | cut -d' ' -f2
}

# Fails unless a left and a right click on the leftmost icon open the same menu.
expect_either_button_opens_the_menu() {
  local first left right
  first=$(tray_icons | awk 'NR == 1 { print $1 }')
  left=$(menu_of_click "$first" 1)
  right=$(menu_of_click "$first" 3)
  [ -n "$left" ] || fail "a left click on a value opened no menu"
  [ "$left" = "$right" ] || fail "the left click's menu ($left) is not the right click's ($right)"
}
