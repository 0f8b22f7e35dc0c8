#!/usr/bin/env bash
# A StatusNotifierWatcher that comes after Kelvaro, as a tray does at login (a test watcher on the session
# bus, tests/support/sni-watcher.py), on X (xcb) or on a platform without X (offscreen, as on Wayland): Kelvaro,
# started with three values and no tray, registers three items with it, the last slot first; their menu is
# exported for the host, and where a host without one asks for it (ContextMenu at a point) Kelvaro's menu
# opens there. A stopped watcher holds neither a quit nor a start: Kelvaro quits with status 0 and starts
# again, its icons answering, and the watcher continued gets them.
# Usage: kelvaro-tray-late-watcher.sh KELVARO COMPUTER xcb|offscreen (xcb under xvfb-run -a)
set -euo pipefail
# A session bus of its own: the tray's watcher is one per bus.
if [ -z "${KELVARO_TRAY_BUS:-}" ]; then
  KELVARO_TRAY_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
kelvaro=$1 computer=$2 platform=$3
. "$(dirname "$0")/../support/session-lib.sh"
/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null || { echo "SKIP: python3-dbus or python3-gi missing"; exit 77; }
need_tools xdotool xwininfo
. "$(dirname "$0")/../support/tray-xvfb-lib.sh"
. "$(dirname "$0")/../support/xfce-panel-lib.sh"
[ "$platform" = xcb ] || export QT_QPA_PLATFORM=$platform
share_folders_with_bus

first_run_with_coloured_values "$kelvaro"

start_watcher() {
  : >"$scratch/watcher.out"
  /usr/bin/python3 "$(dirname "$0")/../support/sni-watcher.py" >>"$scratch/watcher.out" 2>>"$scratch/watcher.err" &
  watcher_pid=$!
  pids+=("$watcher_pid")
  wait_until 30 "the test watcher did not start" grep -q '^watching' "$scratch/watcher.out"
}

# No tray at the start; the watcher comes once Kelvaro runs.
start_ready Kelvaro kelvaro "$kelvaro"
pid=$started
start_watcher
three_registered() { [ "$(active_colours "$pid" | wc -w)" = 3 ]; }
wait_until 60 "Kelvaro registered no three items with the late watcher: $(tray_items "$pid")" three_registered
[ "$(active_colours "$pid")" = "blue green red" ] \
  || fail "the items registered, first to last: $(active_colours "$pid") (expected the last slot first)"
tray_items "$pid" | awk '$4 != "True" || $5 == "/NO_DBUSMENU" { bad = 1 } END { exit !bad }' \
  && fail "an item is no menu: $(tray_items "$pid")"

# The exported menu, as a host reads it: the value lines and the application's commands; "clicked" on a
# command runs it.
menu_labels() {
  /usr/bin/python3 - "$1" "$2" <<'PYTHON'
import sys
import dbus
bus = dbus.SessionBus()
name, path = sys.argv[1], sys.argv[2]
menu = bus.get_object(name, path, introspect=False)
revision, (root, props, children) = menu.GetLayout(0, -1, dbus.Array([], signature="s"),
                                                   dbus_interface="com.canonical.dbusmenu", timeout=10)
for child in children:
    cid, cprops, _ = child
    print(int(cid), str(cprops.get("label", "-")).replace("_", ""))
PYTHON
}
item=$(tray_items "$pid" | awk 'NR == 1')
owner=$(awk '/^registered/ { owner = $2 } END { print owner }' "$scratch/watcher.out")
labels=$(menu_labels "$owner" "$(echo "$item" | awk '{ print $5 }')")
echo "$labels" | grep -q " Quit Kelvaro$" || fail "the exported menu has no Quit Kelvaro: $labels"
echo "$labels" | grep -q " Sensor Window$" || fail "the exported menu has no Sensor Window: $labels"

# A host without a menu of its own asks for it at a point: on X the menu opens there (moved as far as it must
# to fit the screen: it covers the point).
if [ "$platform" = xcb ]; then
  dbus-send --session --print-reply --dest="$owner" "$(echo "$item" | awk '{ print $1 }')" \
    org.kde.StatusNotifierItem.ContextMenu int32:300 int32:200 >/dev/null || fail "ContextMenu failed"
  wait_until 30 "no menu opened on ContextMenu" menus_of "$pid" 1
  at=$(for id in $(xdotool search --onlyvisible --pid "$pid" --name '' 2>/dev/null); do
    xwininfo -id "$id" | awk '/Override Redirect State: yes/ { o = 1 } /Absolute upper-left X/ { x = $4 }
      /Absolute upper-left Y/ { y = $4 } /Width:/ { w = $2 } /Height:/ { h = $2 }
      END { if (o && h > 40) print x, y, w, h }'
  done | awk 'NR == 1')
  echo "$at" | awk '{ exit !($1 <= 300 && 300 <= $1 + $3 && $2 <= 200 && 200 <= $2 + $4) }' \
    || fail "the menu (x y width height: $at) does not cover the host's point 300 200"
  xdotool key Escape
  wait_until 30 "the menu did not close" menus_of "$pid" 0
fi

# A stopped watcher holds neither the quit nor the next start.
kill -STOP "$watcher_pid"
quit_cleanly "$pid" "Kelvaro with the watcher stopped"
start_ready Kelvaro kelvaro "$kelvaro"
pid=$started
three_answering() { [ "$(active_colours "$pid" own | wc -w)" = 3 ]; }
wait_until 60 "Kelvaro's icons did not answer with the watcher stopped: $(tray_items "$pid" own)" three_answering
kill -CONT "$watcher_pid"
wait_until 60 "the continued watcher did not get the icons: $(tray_items "$pid")" three_registered
quit_cleanly "$pid" Kelvaro
echo "a late watcher got three items in order ($platform), their menu exported and shown at the host's point; a stopped watcher held nothing"
