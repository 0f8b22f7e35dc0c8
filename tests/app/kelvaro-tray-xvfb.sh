#!/usr/bin/env bash
# The tray on a virtual X server with a real tray host (trayer): Kelvaro on a simulated computer, set to show
# three values in the tray, docks three drawn icons in the title's order when the tray host starts 12 s after
# it, and again when the host restarts; a left click opens the same menu as a right click.
# Usage (under xvfb-run -a): kelvaro-tray-xvfb.sh KELVARO COMPUTER [SCREENSHOT]
set -euo pipefail
kelvaro=$1 computer=$2 keep=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
export LSAN_OPTIONS=suppressions=$here/../lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}
command -v trayer >/dev/null && command -v import >/dev/null && command -v xdotool >/dev/null \
  || { echo "trayer, ImageMagick or xdotool missing"; exit 77; }

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
. "$here/../support/tray-xvfb-lib.sh"

# A first run writes the preferences of the computer; the next ones show three values in the tray.
"$kelvaro" --simulate "$computer" 2>"$scratch/err" &
pid=$!
ready "$pid"
kill -TERM "$pid"
wait "$pid" || fail "the first run did not end cleanly"
show_three_coloured_values "$XDG_CONFIG_HOME/kelvaro/com.tarnwell.kelvaro.plist"

# At login the tray host often comes after the program: here 12 s after it.
"$kelvaro" --simulate "$computer" 2>"$scratch/err" &
pid=$!
pids+=($pid)
started=$SECONDS
ready "$pid"
sleep $((12 - (SECONDS - started) > 0 ? 12 - (SECONDS - started) : 0))
start_tray_host
wait_tray_icons 3 red green blue
[ -z "$keep" ] || cp "$scratch/tray.png" "$keep"

# Either button opens the menu.
first=$(tray_icons | awk 'NR == 1 { print $1 }')
left=$(menu_of_click "$first" 1)
right=$(menu_of_click "$first" 3)
[ -n "$left" ] || fail "a left click on a value opened no menu"
[ "$left" = "$right" ] || fail "the left click's menu ($left) is not the right click's ($right)"

# A restarted tray host gets the icons again, in the same order.
stop_tray_host
start_tray_host
wait_tray_icons 3 red green blue
kill -0 "$pid" || fail "Kelvaro ended"
echo "three tray icons in the title's order, shown by a late and by a restarted tray host; either click opens the menu"
