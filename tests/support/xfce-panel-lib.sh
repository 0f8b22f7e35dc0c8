# Shared by the tray scripts with a real XFCE panel (sourced after tray-xvfb-lib.sh; needs a private session
# bus, $scratch, fail() and a display): xfce4-panel holding only its status tray plugin, which is both the
# StatusNotifierWatcher and its host and speaks XEmbed too, configured through an xfconfd of the test's own;
# the panel stopped, continued, restarted and killed; a program's tray items read over D-Bus as a host reads
# them; and the Display menu's value count of Kelvaro's sensor window.

# The panel: 32 pixels at the top, the tray at its left on a plain dark background.
write_xfce_panel_config() {
  local dir=$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml
  mkdir -p "$dir"
  cat >"$dir/xfce4-panel.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="background-style" type="uint" value="1"/>
      <property name="background-rgba" type="array">
        <value type="double" value="0.19"/><value type="double" value="0.19"/>
        <value type="double" value="0.19"/><value type="double" value="1"/>
      </property>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
  </property>
</channel>
XML
}

bus_name_owned() { # NAME
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}
watcher_owned() { bus_name_owned org.kde.StatusNotifierWatcher; }
watcher_gone() { ! watcher_owned; }

# SKIP where the panel or a tool to read its tray is missing; else the panel's configuration, also for a
# settings daemon the bus starts on its own. Call before anything runs in the session.
prepare_xfce_session() {
  need_tools xfce4-panel import xdotool xwininfo dbus-send
  /usr/bin/python3 -c 'import dbus' 2>/dev/null || { echo "SKIP: python3-dbus missing"; exit 77; }
  write_xfce_panel_config
  share_folders_with_bus
}

# Starts the panel (and, the first time, its settings daemon) and waits until its tray watches for items.
start_xfce_panel() {
  tray_window='"xfce4-panel": ("xfce4-panel" "Xfce4-panel")'
  if ! bus_name_owned org.xfce.Xfconf; then
    local xfconfd
    xfconfd=$(ls /usr/lib/*/xfce4/xfconf/xfconfd 2>/dev/null | head -1)
    [ -n "$xfconfd" ] || fail "xfconfd not found"
    "$xfconfd" >>"$scratch/xfconfd.err" 2>&1 &
    pids+=("$!")
    wait_until 60 "xfconfd owned no name" bus_name_owned org.xfce.Xfconf
  fi
  xfce4-panel --disable-wm-check >>"$scratch/panel.err" 2>&1 &
  panel_pid=$!
  pids+=("$panel_pid")
  wait_until 60 "the XFCE panel showed no tray" xfce_tray_ready
}
xfce_tray_ready() { tray_panel_shown && watcher_owned; }

# The panel and the plugin processes it started (the tray runs in one of them).
xfce_panel_processes() { echo "$panel_pid" $(pgrep -P "$panel_pid" || true); }

# Sends SIGNAL to the panel and its plugins. Usage: signal_xfce_panel SIGNAL
signal_xfce_panel() { kill "-$1" $(xfce_panel_processes) 2>/dev/null || true; }

# Ends the panel with SIGNAL (TERM, or KILL as at a logout) and waits until its tray is gone.
# Usage: stop_xfce_panel [SIGNAL]
stop_xfce_panel() {
  local processes
  processes=$(xfce_panel_processes)
  kill "-${1:-TERM}" $processes 2>/dev/null || true
  wait "$panel_pid" 2>/dev/null || true
  forget "$panel_pid"
  wait_until 60 "the tray's watcher did not go" watcher_gone
}

# The StatusNotifierItems of process PID the watcher (or, with a second argument, the program's connection)
# knows, each read as a host reads it: one line "PATH STATUS COLOUR ITEMISMENU MENU TOOLTIP" in the watcher's
# order, COLOUR the slot colour of its largest pixmap. Usage: tray_items PID [own]
tray_items() {
  /usr/bin/python3 - "$1" "${2:-}" <<'PYTHON'
import sys
import dbus
bus = dbus.SessionBus()
pid, own = int(sys.argv[1]), sys.argv[2] == "own"
daemon = bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")
names = [n for n in daemon.ListNames(dbus_interface="org.freedesktop.DBus") if n.startswith(":")]
mine = [n for n in names if daemon.GetConnectionUnixProcessID(n, dbus_interface="org.freedesktop.DBus") == pid]
if own:
    import xml.etree.ElementTree as ET
    entries = []
    for name in mine:
        try:
            node = ET.fromstring(bus.get_object(name, "/StatusNotifierItem", introspect=False).Introspect(
                dbus_interface="org.freedesktop.DBus.Introspectable", timeout=10))
        except dbus.DBusException:
            continue
        entries += [name + "/StatusNotifierItem/" + child.get("name") for child in node.findall("node")]
else:
    watcher = bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", introspect=False)
    entries = [str(e) for e in watcher.Get("org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems",
                                           dbus_interface="org.freedesktop.DBus.Properties", timeout=10)]
def colour(pixmaps):
    if not pixmaps:
        return "none"
    w, h, data = max(pixmaps, key=lambda p: p[0] * p[1])
    data = bytes(data)
    votes = {"red": 0, "green": 0, "blue": 0}
    for i in range(0, len(data), 4):
        a, r, g, b = data[i:i + 4]
        for n, (c, o1, o2) in {"red": (r, g, b), "green": (g, r, b), "blue": (b, r, g)}.items():
            if a > 200 and c > 120 and c > o1 + 80 and c > o2 + 80:
                votes[n] += 1
    best = max(votes, key=votes.get)
    return best if votes[best] > 5 else "other"
for entry in entries:
    name, path = entry.split("/", 1)
    if name not in mine:
        continue
    try:
        p = bus.get_object(name, "/" + path, introspect=False).GetAll(
            "org.kde.StatusNotifierItem", dbus_interface="org.freedesktop.DBus.Properties", timeout=10)
    except dbus.DBusException as e:
        print("/" + path, "unreadable", e.get_dbus_name())
        continue
    print("/" + path, p["Status"], colour(p["IconPixmap"]), bool(p["ItemIsMenu"]), p["Menu"], p["ToolTip"][2])
PYTHON
}

# The colours of the Active items of PID, in the order tray_items lists them. Usage: active_colours PID [own]
active_colours() { tray_items "$@" | awk '$2 == "Active" { print $3 }' | xargs; }

# Picks "COUNT Values" in the Display > Menu Bar menu of Kelvaro's sensor window with the keyboard, as a user
# does. Usage: pick_menu_bar_values KELVARO-PID COUNT
pick_menu_bar_values() {
  local window i
  window=$(xdotool search --all --onlyvisible --pid "$1" --name '^Sensors' 2>/dev/null | head -1)
  [ -n "$window" ] || fail "no sensor window to pick the tray's value count in"
  # Alt alone puts the keys into the menu bar: Kelvaro, File, Sensors, Display; the first item of Display is
  # the Menu Bar submenu (no other menu starts with one), whose items run from No Values down. The window
  # takes Alt only once it knows itself active, which no window manager tells it here, and shows nothing for
  # it: Alt again until the Display menu opens.
  local attempt until
  # The pointer out of the way, so that no menu opens under it.
  xdotool mousemove 0 799
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    xdotool windowfocus --sync "$window"
    xdotool key --window "$window" alt
    xdotool key --window "$window" Right Right Right Down
    until=$((SECONDS + 5))
    while ! menus_of "$1" 1 && [ "$SECONDS" -lt "$until" ]; do sleep 0.1; done
    menus_of "$1" 1 && break
    xdotool key Escape Escape
  done
  menus_of "$1" 1 || fail "the Display menu did not open"
  xdotool key Right
  wait_until 30 "the Menu Bar submenu did not open" menus_of "$1" 2
  for ((i = 0; i < $2; i++)); do xdotool key Down; done
  xdotool key Return
  wait_until 30 "the menus did not close" menus_of "$1" 0
}

# True when process PID shows COUNT menus or more (none: none). Usage: menus_of PID COUNT
menus_of() {
  local n=0 id
  for id in $(xdotool search --onlyvisible --pid "$1" --name '' 2>/dev/null); do
    xwininfo -id "$id" 2>/dev/null | awk '/Override Redirect State: yes/ { o = 1 } /Width:/ { w = $2 } /Height:/ { h = $2 }
      END { exit !(o && w > 40 && h > 40) }' && n=$((n + 1))
  done
  [ "$n" -ge "$2" ] && { [ "$2" -gt 0 ] || [ "$n" -eq 0 ]; }
}
