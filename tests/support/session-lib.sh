# Shared by the scripts that run the programs end to end (sourced, after `set -euo pipefail`): a session of
# their own under $scratch, every process in $pids killed at the end, failures that show each program's
# standard error ($scratch/*.err), and the waits for a program's start.

# Only for a sanitizer build; the suppressions name third-party libraries only.
export LSAN_OPTIONS=suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}
export KELVARO_NONINTERACTIVE=1
unset KELVARO_SIMULATED_COMPUTER KELVARO_PRINT_OUTPUT_CACHE

scratch=$(mktemp -d)
pids=()
end_session() {
  local p
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  # Collected quietly: the shell would report each killed job.
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$scratch"
}
# A command that fails outside fail() ends the script too (set -e): it is named, with the logs.
failed_command='' fail_reported=''
set -o errtrace
trap 'failed_command="$BASH_COMMAND (line $LINENO)"' ERR
end_script() {
  local status=$?
  if [ "$status" -ne 0 ] && [ "$status" -ne 77 ] && [ -z "$fail_reported" ]; then
    report_failure "the script ended with status $status at ${failed_command:-an unknown command}"
  fi
  end_session
}
trap end_script EXIT

# Logs of which a failure shows the last lines too (a peer's requests, say), beside every standard error.
fail_tails=()
fail() {
  report_failure "$@"
  exit 1
}
report_failure() {
  fail_reported=1
  echo "FAIL: $*" >&2
  local f lines kept
  for f in "$scratch"/*.err; do
    [ -e "$f" ] || continue
    lines=$(wc -l <"$f")
    echo "--- $(basename "$f" .err)$([ "$lines" -le 300 ] || echo " (its last 300 of $lines lines)"):" >&2
    tail -n 300 "$f" >&2
  done
  for f in "${fail_tails[@]}"; do
    [ -e "$f" ] || continue
    echo "--- $(basename "$f") (its last 20 of $(wc -l <"$f") lines):" >&2
    tail -n 20 "$f" >&2
  done
  # The whole logs outlive the session's folder.
  if kept=$(mktemp -d "${TMPDIR:-/tmp}/kelvaro-failed-$(basename "$0" .sh).XXXXXX"); then
    cp "$scratch"/*.err "$scratch"/*.out "$scratch"/*.log "$kept" 2>/dev/null || true
    echo "--- the logs are kept in $kept" >&2
  fi
}

# A user of their own under DIR: HOME, its XDG folders and a private runtime folder (which also tells this
# session's programs from those of other tests). Usage: use_folders DIR
use_folders() {
  export HOME=$1/home XDG_CONFIG_HOME=$1/home/.config XDG_DATA_HOME=$1/home/.local/share
  export XDG_CACHE_HOME=$1/home/.cache XDG_RUNTIME_DIR=$1/runtime
  mkdir -p "$HOME"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
}
use_folders "$scratch"
# Kelvaro's preferences, which Lite reads too.
preferences_file() { echo "$XDG_CONFIG_HOME/kelvaro/com.tarnwell.kelvaro.plist"; }
# Sets the stored preferences so that the next start opens the windows of KEYS ("SensorWindowOpen",
# "OverviewOpen", ...) and no others. Usage: open_at_next_start KEY...
open_at_next_start() {
  python3 - "$(preferences_file)" "$@" <<'PYTHON' || fail "no preferences to change"
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    data = f.read()
prefs = plistlib.loads(data)
for key in ("SensorWindowOpen", "FloatingWindowOpen", "OverviewOpen", "SystemInfoOpen", "BatteryInfoOpen",
            "HistoryWindowsOpen", "ExtremeValuesWindowOpen", "DisplayInfoOpen"):
    prefs[key] = key in sys.argv[2:]
with open(sys.argv[1], "wb") as f:
    plistlib.dump(prefs, f, fmt=plistlib.FMT_BINARY if data.startswith(b"bplist") else plistlib.FMT_XML)
PYTHON
}

# Runs COMMAND until it succeeds; fails with "WHAT within SECONDS s" when it has not by then. The limit only
# guards against a hang: make it tens of seconds, as a loaded machine with a sanitizer build is slow.
# Usage: wait_until SECONDS WHAT COMMAND [ARGS...]
wait_until() {
  local limit=$1 what=$2 until=$((SECONDS + $1))
  shift 2
  while ! "$@"; do
    [ "$SECONDS" -lt "$until" ] || fail "$what within $limit s"
    sleep 0.1
  done
}

# Waits (two minutes at most: a sanitizer build on a loaded machine is slow) until PROGRAM, running as PID,
# writes into LOG that it monitors its computer; its handler of SIGTERM is in place by then.
# Usage: wait_ready PID LOG PROGRAM
wait_ready() {
  local until=$((SECONDS + 120))
  until grep -q "^$3: monitoring " "$2"; do
    kill -0 "$1" 2>/dev/null || fail "$3 ended before it was ready"
    [ "$SECONDS" -lt "$until" ] || fail "$3 was not ready within 120 s"
    sleep 0.1
  done
}

# A process that has ended and been waited for: its number may be given to another.
forget() { # PID
  local p kept=()
  for p in "${pids[@]}"; do [ "$p" = "$1" ] || kept+=("$p"); done
  pids=("${kept[@]}")
}

# Starts BINARY on the script's simulated $computer, with ARGS; its standard output and error go into
# $scratch/LOG.out and LOG.err; $started is its process. Usage: start LOG BINARY [ARGS...]
start() {
  local log=$1 binary=$2
  shift 2
  # Emptied here, not by the redirection below: that runs in the new process, maybe only after the first
  # look for the ready line, which would then find the line of an earlier run with the same LOG.
  : >"$scratch/$log.out"
  : >"$scratch/$log.err"
  "$binary" --simulate "$computer" "$@" >>"$scratch/$log.out" 2>>"$scratch/$log.err" &
  started=$!
  pids+=("$started")
}
# The same, then waits until PROGRAM says it is ready. Usage: start_ready PROGRAM LOG BINARY [ARGS...]
start_ready() {
  local program=$1
  shift
  start "$@"
  wait_ready "$started" "$scratch/$1.err" "$program"
}

# Waits for PID, a process of this script's; fails unless it ends with status 0. Usage: ended_cleanly PID WHAT [WHEN]
ended_cleanly() {
  local status=0
  wait "$1" || status=$?
  forget "$1"
  [ "$status" -eq 0 ] || fail "$2 ended with status $status${3:+ $3}"
}
# Sends SIGTERM to PID and waits for it; fails unless it ends with status 0. Usage: quit_cleanly PID WHAT
quit_cleanly() {
  kill -TERM "$1"
  ended_cleanly "$1" "$2" "after SIGTERM"
}

# The processes of PROGRAM in this session, one a line. Usage: copies_of PROGRAM
copies_of() {
  local p
  for p in $(pgrep -x "$1" || true); do
    if { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qxF "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"; then
      echo "$p"
    fi
  done
}
# How many copies of PROGRAM run in this session. Usage: running PROGRAM
running() { copies_of "$1" | grep -c . || true; }
# Also a process that exited and that its parent has not collected yet: Lite, started by Kelvaro, is none of
# the script's children.
ended() { ! kill -0 "$1" 2>/dev/null || [ "$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)" = Z ]; }

# Each tool a script needs, or SKIP. Usage: need_tools TOOL...
need_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
}

# Services the bus starts when a program asks for one (xfconfd, a notification daemon) run in the script's
# folders, not the caller's.
share_folders_with_bus() {
  dbus-update-activation-environment HOME XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR \
    ${DISPLAY:+DISPLAY} || fail "could not hand the folders to the session bus"
}

# A virtual X server of SIZE (WIDTHxHEIGHT) of this script's own: DISPLAY names it, $x_pid is its process.
# Usage: start_x_server SIZE
start_x_server() {
  command -v Xvfb >/dev/null || { echo "SKIP: Xvfb is not installed"; exit 77; }
  local fd number
  # Xvfb picks a free display and writes its number into the pipe once it accepts clients.
  exec {fd}<> <(:)
  Xvfb -displayfd "$fd" -screen 0 "$1x24" -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
  x_pid=$!
  pids+=("$x_pid")
  read -r -t 30 -u "$fd" number || fail "Xvfb did not start within 30 s"
  exec {fd}<&-
  export DISPLAY=:$number
}
stop_x_server() {
  kill "$x_pid" 2>/dev/null || true
  wait "$x_pid" 2>/dev/null || true
  forget "$x_pid"
}
