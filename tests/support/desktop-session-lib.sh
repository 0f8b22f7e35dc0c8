# Shared by the scripts that run the programs in the desktops users run (sourced after session-lib.sh, with a
# display): an XFCE session (xfce4-session with xfwm4 compositing and xfce4-panel) that logs out and logs in
# again, openbox with tint2, and what the window manager shows of the program's windows.

# The window manager's frame around client window ID: "left right top bottom" (zeros without one).
frame_extents() {
  local e
  e=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/^_NET_FRAME_EXTENTS(CARDINAL) = //p' | tr -d ',')
  echo "${e:-0 0 0 0}"
}

# The program's managed windows on screen, one line each: "id x y width height left right top bottom title",
# the client's place and size and the frame's extents, from the window manager's client list. Usage:
# managed_windows CLASS
managed_windows() {
  local id ids
  ids=$(xprop -root _NET_CLIENT_LIST 2>/dev/null | sed -n 's/^_NET_CLIENT_LIST(WINDOW): window id # //p' | tr -d ',')
  for id in $ids; do
    xprop -id "$id" WM_CLASS 2>/dev/null | grep -q "\"$1\"" || continue
    xwininfo -id "$id" 2>/dev/null | awk -v id="$id" -v ext="$(frame_extents "$id")" '
      /^xwininfo: Window id:/ { t = $0; sub(/^[^"]*"/, "", t); sub(/"[^"]*$/, "", t) }
      /Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
      /^  Width:/ { w = $NF } /^  Height:/ { h = $NF } /Map State/ { m = $NF }
      END { if (m == "IsViewable") print id, x, y, w, h, ext, t }'
  done
}

# The titles of the program's managed windows on screen but the screen display (titled as the program), up to
# the first " - ", sorted, into FILE; true when there are COUNT. Usage: window_titles CLASS FILE COUNT
window_titles() {
  managed_windows "$1" | cut -d' ' -f10- | grep -vx "$1" | sed 's/ - .*//' | sort >"$2" || true
  [ "$(wc -l <"$2")" -eq "$3" ]
}

# The work area of the first desktop: "x y width height".
work_area() {
  xprop -root _NET_WORKAREA | sed -n 's/^_NET_WORKAREA(CARDINAL) = //p' | tr -d ',' | awk '{ print $1, $2, $3, $4 }'
}

# Problems of the frames of the windows listed in FILE (as managed_windows prints them) in the work area, none
# when all is well: a frame past the work area's edge, and with OVERLAP=0 two frames over one another. OVERLAP
# "heads" lets frames overlap and a lower edge leave the work area, but no title bar may lie within the other
# windows' frames (a third of it, 100 pixels at least, stays clear to take hold of), nor anything lie over the
# sensor window's title and menu bar (the first 24 pixels of its client).
# Usage: frame_problems FILE OVERLAP
frame_problems() {
  python3 - "$1" "$2" $(work_area) <<'PYTHON'
import sys
path, mode = sys.argv[1], sys.argv[2]
overlap_ok = mode != "0"
ax, ay, aw, ah = map(int, sys.argv[3:7])
frames = []
for line in open(path):
    parts = line.rstrip("\n").split(" ", 9)
    x, y, w, h, l, r, t, b = map(int, parts[1:9])
    frames.append((x - l, y - t, w + l + r, h + t + b, parts[9], t + (24 if parts[9] == "Sensors" else 0)))
found = []
for x, y, w, h, title, head in frames:
    bottom = y + (head if mode == "heads" else h)
    if x < ax or y < ay or x + w > ax + aw or bottom > ay + ah:
        found.append(f"'{title}' framed {w}x{h}+{x}+{y} runs past the work area {aw}x{ah}+{ax}+{ay}")
def meet(a, c):
    return a[0] < c[0] + c[2] and c[0] < a[0] + a[2] and a[1] < c[1] + c[3] and c[1] < a[1] + a[3]
def clear_run(x, width, over):
    covered = sorted((max(c[0], x), min(c[0] + c[2], x + width)) for c in over)
    longest, start = 0, x
    for left, right in covered:
        if left < right:
            longest, start = max(longest, left - start), max(start, right)
    return max(longest, x + width - start)
if mode == "heads":
    for a in frames:
        others = [c for c in frames if c is not a]
        if a[4] == "Sensors":
            for c in others:
                if meet((a[0], a[1], a[2], a[5]), c):
                    found.append(f"'{c[4]}' framed {c[2]}x{c[3]}+{c[0]}+{c[1]} lies over the title or menu bar of 'Sensors' framed {a[2]}x{a[3]}+{a[0]}+{a[1]}")
        bar = (a[0], a[1], a[2], a[5] - (24 if a[4] == "Sensors" else 0))
        over = [c for c in others if meet(bar, c)]
        if bar[3] > 0 and clear_run(a[0], a[2], over) < min(a[2], max(100, a[2] // 3)):
            found.append(f"the title bar of '{a[4]}' framed {a[2]}x{a[3]}+{a[0]}+{a[1]} lies within " +
                         ", ".join(f"'{c[4]}' framed {c[2]}x{c[3]}+{c[0]}+{c[1]}" for c in over))
if not overlap_ok:
    for i, a in enumerate(frames):
        for c in frames[i + 1:]:
            if meet(a, c):
                found.append(f"'{a[4]}' framed {a[2]}x{a[3]}+{a[0]}+{a[1]} and '{c[4]}' {c[2]}x{c[3]}+{c[0]}+{c[1]} overlap")
print("\n".join(found))
PYTHON
}

# Whether the COUNT windows of a start but the screen display are on screen with their frames in place
# (OVERLAP as frame_problems takes it); the windows into $scratch/windows. Usage: framed COUNT OVERLAP
framed() {
  managed_windows Kelvaro | awk '$10 != "Kelvaro"' >"$scratch/windows"
  [ "$(wc -l <"$scratch/windows")" -eq "$1" ] && [ -z "$(frame_problems "$scratch/windows" "$2")" ]
}
# Waits (a minute at most) until Kelvaro's windows are framed in place, takes the picture NAME and lists them;
# fails with what is wrong. Usage: check_frames COUNT OVERLAP NAME
check_frames() {
  local until=$((SECONDS + 60))
  until framed "$1" "$2"; do
    if [ "$SECONDS" -ge "$until" ]; then
      screenshot "$3"
      fail "$3:"$'\n'"$(frame_problems "$scratch/windows" "$2")"$'\n'"$(cat "$scratch/windows")"
    fi
    sleep 0.2
  done
  screenshot "$3"
  echo "$3 in the work area $(work_area):"
  sed 's/^/  /' "$scratch/windows"
}

# A picture of the screen into $KELVARO_SCREENSHOT_DIR/NAME.png, where that is set. Usage: screenshot NAME
screenshot() {
  [ -z "${KELVARO_SCREENSHOT_DIR:-}" ] || import -window root "$KELVARO_SCREENSHOT_DIR/$1.png" || true
}

# Gives window ID the keyboard focus and types KEY there. The window manager is asked first, as a click on the
# window would; a busy openbox may turn that down, so the focus is then set directly. Half a minute at most.
# Usage: key_in ID KEY
key_in() {
  wait_until 30 "window $1 did not get the focus" focus_on "$1"
  xdotool key "$2"
}
focus_on() {
  timeout 5 xdotool windowactivate --sync "$1" >/dev/null 2>&1 || timeout 5 xdotool windowfocus --sync "$1" >/dev/null 2>&1
}

# Kelvaro's alerts on screen, one line each as managed_windows gives them.
alert_windows() {
  local line
  { managed_windows Kelvaro || true; } | while read -r line; do
    if xprop -id "${line%% *}" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _NET_WM_WINDOW_TYPE_DIALOG; then echo "$line"; fi
  done
}

# The start-up alerts of a computer without sensors (COMPUTER, two of them), shown one after the other: never
# two at once, where the window manager would put the second over most of the first; the first answered
# (Escape), the second follows. NAME names the screenshots. Usage: check_alerts_one_after_the_other COMPUTER NAME
check_alerts_one_after_the_other() {
  local computer=$1 first second pid
  unset KELVARO_NONINTERACTIVE
  start alerts "$kelvaro"
  export KELVARO_NONINTERACTIVE=1
  pid=$started
  # Looked at until the alert LABEL (not the one with id NOT) is shown with the windows opened meanwhile, by
  # when both alerts have been asked: fails at any look that finds two.
  one_alert() {
    local label=$1 not=$2 until=$((SECONDS + 60))
    while :; do
      alert_windows >"$scratch/alerts"
      [ "$(wc -l <"$scratch/alerts")" -le 1 ] || fail "two alerts at once:"$'\n'"$(cat "$scratch/alerts")"
      window_titles Kelvaro "$scratch/titles" 0 || true
      [ -s "$scratch/alerts" ] && ! grep -q "^$not " "$scratch/alerts" && grep -qx Sensors "$scratch/titles" &&
        grep -q '^Sensor Overview' "$scratch/titles" && break
      kill -0 "$pid" 2>/dev/null || fail "Kelvaro ended before the $label alert"
      [ "$SECONDS" -lt "$until" ] || fail "the $label alert was not shown within 60 s"
      sleep 0.2
    done
    read -r alert _ <"$scratch/alerts"
  }
  one_alert first none
  first=$alert
  screenshot "$2-first-alert"
  key_in "$first" Escape
  one_alert second "$first"
  second=$alert
  screenshot "$2-second-alert"
  key_in "$second" Escape
  wait_ready "$pid" "$scratch/alerts.err" Kelvaro
  alert_windows >"$scratch/alerts"
  [ ! -s "$scratch/alerts" ] || fail "an alert is left after both were answered:"$'\n'"$(cat "$scratch/alerts")"
  quit_cleanly "$pid" Kelvaro
}

# Kelvaro's screen display on screen: its window's id, none while it is hidden.
screen_display() { managed_windows Kelvaro | awk '$10 == "Kelvaro" && $4 > 1 { print $1; exit }'; }
screen_display_shown() { [ -n "$(screen_display)" ]; }
screen_display_hidden() { [ -z "$(screen_display)" ]; }

# Ctrl+D in Kelvaro's sensor window SENSORS shows the screen display: no task bar or pager lists it, the
# keyboard stays with the sensor window (a second Ctrl+D hides it), and clicks in the gaps of its text reach the
# window below (xev, under the whole display, reports the presses it gets). The picture NAME is taken while it
# shows. Usage: check_screen_display SENSORS NAME
check_screen_display() {
  key_in "$1" ctrl+d
  wait_until 30 "Ctrl+D showed no screen display" screen_display_shown
  local display state wanted dx dy dw dh fx fy xev_pid
  display=$(screen_display)
  state=$(xprop -id "$display" _NET_WM_STATE)
  for wanted in _NET_WM_STATE_SKIP_TASKBAR _NET_WM_STATE_SKIP_PAGER; do
    grep -q "$wanted" <<<"$state" || fail "the screen display lacks $wanted: $state"
  done
  # The keys go to the window with the focus.
  xdotool key ctrl+d
  wait_until 30 "the screen display took the keyboard: a second Ctrl+D did not hide it" screen_display_hidden

  key_in "$1" ctrl+d
  wait_until 30 "Ctrl+D showed no screen display again" screen_display_shown
  display=$(screen_display)
  read -r _ dx dy dw dh _ <<<"$(managed_windows Kelvaro | awk -v id="$display" '$1 == id')"
  [ -n "$dh" ] || fail "the screen display $display has no place: $(managed_windows Kelvaro)"
  xev -geometry "${dw}x${dh}+${dx}+${dy}" -name below >"$scratch/xev.out" 2>"$scratch/xev.err" &
  xev_pid=$!
  pids+=("$xev_pid")
  wait_until 30 "the window below the screen display ${dw}x${dh}+${dx}+${dy} did not show" below_shown
  for fx in 0.1 0.3 0.5 0.7 0.9; do
    for fy in 0.1 0.3 0.5 0.7 0.9; do
      xdotool mousemove "$(awk -v a="$dx" -v b="$dw" -v f="$fx" 'BEGIN { printf "%d", a + b * f }')" \
        "$(awk -v a="$dy" -v b="$dh" -v f="$fy" 'BEGIN { printf "%d", a + b * f }')" click 1
    done
  done
  wait_until 10 "none of 25 clicks over the screen display reached the window below it" clicked_through
  screenshot "$2"
  kill "$xev_pid" 2>/dev/null || true
  wait "$xev_pid" 2>/dev/null || true
  forget "$xev_pid"
  key_in "$1" ctrl+d
  wait_until 30 "Ctrl+D did not hide the screen display" screen_display_hidden
}
below_shown() { xdotool search --onlyvisible --name "^below$" >/dev/null; }
clicked_through() { grep -q '^ButtonPress' "$scratch/xev.out"; }

# --- XFCE ---------------------------------------------------------------------------------------------------

# The session's clients: the window manager, the settings daemon and the panel (the desktop and the file
# manager of the default session are left out: not installed everywhere, and nothing here needs them).
write_xfce_session_settings() {
  local dir=$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml
  mkdir -p "$dir"
  cat >"$dir/xfce4-session.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-session" version="1.0">
  <property name="general" type="empty">
    <property name="FailsafeSessionName" type="string" value="Failsafe"/>
    <property name="SaveOnExit" type="bool" value="true"/>
    <property name="LockCommand" type="string" value=""/>
  </property>
  <property name="sessions" type="empty">
    <property name="Failsafe" type="empty">
      <property name="IsFailsafe" type="bool" value="true"/>
      <property name="Count" type="int" value="3"/>
      <property name="Client0_Command" type="array"><value type="string" value="xfwm4"/></property>
      <property name="Client0_Priority" type="int" value="15"/>
      <property name="Client0_PerScreen" type="bool" value="false"/>
      <property name="Client1_Command" type="array"><value type="string" value="xfsettingsd"/></property>
      <property name="Client1_Priority" type="int" value="20"/>
      <property name="Client1_PerScreen" type="bool" value="false"/>
      <property name="Client2_Command" type="array"><value type="string" value="xfce4-panel"/></property>
      <property name="Client2_Priority" type="int" value="25"/>
      <property name="Client2_PerScreen" type="bool" value="false"/>
    </property>
  </property>
</channel>
XML
  cat >"$dir/xfwm4.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfwm4" version="1.0">
  <property name="general" type="empty">
    <property name="use_compositing" type="bool" value="true"/>
  </property>
</channel>
XML
}

# The window manager of the session runs, with its compositor.
xfwm4_composites() {
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' &&
    xprop -root _NET_CLIENT_LIST >/dev/null 2>&1 && [ "$(running xfwm4)" -ge 1 ] &&
    "$(dirname "${BASH_SOURCE[0]}")/compositor-running.py"
}

# Logs in: starts xfce4-session (output into $scratch/NAME.err) and waits until xfwm4 composites and the
# panel is on screen; $session_pid is its process. Usage: xfce_login NAME
xfce_login() {
  xfce4-session >"$scratch/$1.out" 2>"$scratch/$1.err" &
  session_pid=$!
  pids+=("$session_pid")
  wait_until 120 "xfwm4 did not composite" xfwm4_composites
  wait_until 120 "the panel did not show" xfce_panel_shown
}
# Read whole: `grep -q` would end the pipe at the first of XFCE's two panels, a failure under pipefail.
xfce_panel_shown() { [ -n "$(managed_windows xfce4-panel)" ]; }

# The environment xfce4-session gives its clients: what a program started in the session finds.
xfce_session_manager() {
  local p
  for p in $(pgrep -x xfwm4 || true); do
    if tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"; then
      tr '\0' '\n' <"/proc/$p/environ" | sed -n 's/^SESSION_MANAGER=//p'
      return
    fi
  done
}

# Logs out as the session's menu does, and waits until xfce4-session has ended (a minute at most).
xfce_logout() {
  xfce4-session-logout --logout || fail "xfce4-session-logout failed"
  local until=$((SECONDS + 60))
  while kill -0 "$session_pid" 2>/dev/null; do
    [ "$SECONDS" -lt "$until" ] || fail "xfce4-session did not end within 60 s of the logout"
    sleep 0.1
  done
  wait "$session_pid" 2>/dev/null || true
  forget "$session_pid"
}
