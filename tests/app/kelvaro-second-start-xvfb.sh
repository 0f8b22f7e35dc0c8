#!/usr/bin/env bash
# One running copy per user: a second Kelvaro started beside a running one asks it to show its windows and
# ends with status 0 within a few seconds, leaving one Kelvaro. "bus": on a session bus of its own, where the
# running copy owns com.tarnwell.Kelvaro; "nobus": the bus address leads nowhere.
# Usage (under xvfb-run -a): kelvaro-second-start-xvfb.sh KELVARO COMPUTER bus|nobus
set -euo pipefail
kelvaro=$1 computer=$2 mode=$3
if [ "$mode" = bus ] && [ -z "${KELVARO_TEST_OWN_BUS:-}" ]; then
  KELVARO_TEST_OWN_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
export LSAN_OPTIONS=suppressions=$here/../lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}

scratch=$(mktemp -d)
first=''
cleanup() {
  [ -z "$first" ] || kill -KILL "$first" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data XDG_CACHE_HOME=$scratch/cache
export XDG_RUNTIME_DIR=$scratch/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export KELVARO_NONINTERACTIVE=1
unset KELVARO_SIMULATED_COMPUTER KELVARO_PRINT_OUTPUT_CACHE
[ "$mode" = bus ] || export DBUS_SESSION_BUS_ADDRESS=unix:path=$scratch/no-bus
fail() {
  echo "FAIL: $*" >&2
  for f in "$scratch"/*.err; do echo "--- $f" >&2; cat "$f" >&2; done
  exit 1
}
# Copies of a program in this test's session (the runtime folder tells them from those of other tests).
running() { # PROGRAM
  local n=0 p
  for p in $(pgrep -x "$1" || true); do
    tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR" && n=$((n + 1))
  done
  echo "$n"
}

"$kelvaro" --simulate "$computer" 2>"$scratch/first.err" &
first=$!
for _ in $(seq 1 600); do
  grep -q '^Kelvaro: monitoring ' "$scratch/first.err" && break
  kill -0 "$first" 2>/dev/null || fail "Kelvaro ended before it was ready"
  sleep 0.1
done
grep -q '^Kelvaro: monitoring ' "$scratch/first.err" || fail "Kelvaro was not ready within 60 s"
if [ "$mode" = bus ]; then
  owner=$(dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.GetConnectionUnixProcessID string:com.tarnwell.Kelvaro | awk '{ print $2 }') || true
  [ "$owner" = "$first" ] || fail "com.tarnwell.Kelvaro belongs to '$owner', not to the running Kelvaro ($first)"
fi

started=$(date +%s%N)
status=0
timeout 20 "$kelvaro" --simulate "$computer" 2>"$scratch/second.err" || status=$?
seconds=$(( ($(date +%s%N) - started) / 1000000000 ))
[ "$status" -eq 0 ] || fail "the second start ended with status $status"
[ "$seconds" -lt 5 ] || fail "the second start took $seconds s"
grep -q "^Kelvaro: runs already (process $first)" "$scratch/second.err" || fail "the second start did not hand over"
for _ in $(seq 1 50); do
  grep -q '^Kelvaro: another start asked for the windows' "$scratch/first.err" && break
  sleep 0.1
done
grep -q '^Kelvaro: another start asked for the windows' "$scratch/first.err" || fail "the running Kelvaro was not asked"
[ "$(running Kelvaro)" = 1 ] || fail "$(running Kelvaro) copies of Kelvaro run"

kill -TERM "$first"
status=0
wait "$first" || status=$?
first=''
[ "$status" -eq 0 ] || fail "the running Kelvaro ended with status $status after SIGTERM"
echo "a second Kelvaro ($mode) handed over to the running one in $seconds s and ended with status 0"
