# A Wayland session of the script's own (sourced after session-lib.sh): weston on its headless backend, with
# its desktop shell and, for "xwayland", its X server. Weston runs as root; its debug protocol (--debug)
# lets the scripts read its scene graph (the stacking of the windows, top first) and take screenshots.

# Starts weston; MODE "native" runs the programs as Wayland clients (QT_QPA_PLATFORM=wayland), "xwayland" as
# X11 clients of weston's X server. $weston_pid is its process. Usage: start_weston MODE
start_weston() {
  command -v weston >/dev/null || { echo "SKIP: weston is not installed"; exit 77; }
  local mode=$1 extra=()
  if [ "$mode" = xwayland ]; then
    command -v Xwayland >/dev/null || { echo "SKIP: xwayland is not installed"; exit 77; }
    # Weston binds its X server's socket here, but does not make the folder.
    [ -d /tmp/.X11-unix ] || mkdir -m 1777 /tmp/.X11-unix
    extra=(--xwayland)
  fi
  ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 ||
    { echo "SKIP: qt6-wayland is not installed"; exit 77; }
  export WAYLAND_DISPLAY=kelvaro-test-$$
  # A weston killed before left its socket, which the wait below would take for this one's.
  rm -f "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY.lock"
  weston --backend=headless-backend.so --use-pixman --socket="$WAYLAND_DISPLAY" --width=1600 --height=1000 \
    --idle-time=0 --debug "${extra[@]}" >"$scratch/weston.log" 2>&1 &
  weston_pid=$!
  pids+=("$weston_pid")
  wait_until 30 "weston did not start" test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY"
  if [ "$mode" = xwayland ]; then
    wait_until 30 "weston did not start its X server" grep -q 'xserver listening on display' "$scratch/weston.log"
    export DISPLAY=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$scratch/weston.log" | head -1)
    export QT_QPA_PLATFORM=xcb
  else
    unset DISPLAY
    export QT_QPA_PLATFORM=wayland
    # A sanitizer build: Qt's Wayland plugin leaves its protocol objects (libwayland-client proxies) to the end
    # of the process, and the graphics driver it loads and unloads again keeps what its one-time set-up
    # allocated, of whose stack only the __pthread_once_slow frame still has a name by then. The full stacks
    # of allocations let these be told by their named frames.
    export ASAN_OPTIONS=fast_unwind_on_malloc=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}
    { cat "$(dirname "${BASH_SOURCE[0]}")/../lsan.supp"
      printf '%s\n' leak:libwayland-client.so leak:libQt6WaylandClient.so leak:__pthread_once_slow; } >"$scratch/lsan.supp"
    export LSAN_OPTIONS=suppressions=$scratch/lsan.supp:print_suppressions=0
  fi
}

# Ends weston at once, as a compositor that dies under its clients.
kill_weston() {
  kill -KILL "$weston_pid" 2>/dev/null || true
  wait "$weston_pid" 2>/dev/null || true
  forget "$weston_pid"
}

# Ends PID after its compositor is killed; fails unless it ends with status 1. Usage: lose_compositor PID WHAT
lose_compositor() {
  kill_weston
  local status=0
  for _ in $(seq 1 300); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$1" 2>/dev/null && fail "$2 still runs 30 s after its compositor went away"
  wait "$1" || status=$?
  forget "$1"
  [ "$status" -eq 1 ] || fail "$2 ended with status $status after its compositor went away, not 1"
  grep -q 'ERROR: AddressSanitizer\|runtime error:' "$scratch"/*.err && fail "$2 crashed at the end of its compositor"
  return 0
}

# The top-level windows on the screen, top first, one title a line.
stacked_titles() {
  timeout 10 weston-debug scene-graph 2>/dev/null | sed -n "s/.*top-level window '\(.*\)'\( of .*\)\?, 0x[0-9a-f]*):\$/\1/p"
}

# The clients' views on the screen, across weston's layers, top first, one a line: "WIDTHxHEIGHT TITLE" (the
# title "-" where weston has none), weston's own panel and background left out. Weston names its X server,
# not the X client, as a view's process.
stacked_views() {
  timeout 10 weston-debug scene-graph 2>/dev/null | python3 -c '
import re, sys
view = None
for line in sys.stdin:
    m = re.match(r"\s*View \d+ \(role [^,]*, PID \d+, surface ID \d+, (.*), 0x[0-9a-f]+\):$", line)
    if m:
        view = m.group(1)
        continue
    m = re.match(r"\s*position: \((-?\d+), (-?\d+)\) -> \((-?\d+), (-?\d+)\)", line)
    if m and view is not None:
        if not re.match(r"(panel|background) for output ", view):
            t = re.match(r"top-level window \x27(.*)\x27( of .*)?$", view)
            x1, y1, x2, y2 = map(int, m.groups())
            print("%dx%d %s" % (x2 - x1, y2 - y1, t.group(1) if t else "-"))
        view = None'
}

# A screenshot into $KELVARO_SCREENSHOT_DIR/NAME.png, when asked for. Usage: screenshot NAME
screenshot() {
  [ -n "${KELVARO_SCREENSHOT_DIR:-}" ] || return 0
  (cd "$scratch" && rm -f wayland-screenshot-*.png && timeout 10 weston-screenshooter >/dev/null 2>&1 &&
    mv wayland-screenshot-*.png "$KELVARO_SCREENSHOT_DIR/$1.png") || true
}
