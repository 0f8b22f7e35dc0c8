#!/usr/bin/env bash
# Opt-in check of service discovery against a real avahi daemon; run by hand, never in CI.
#
#   scripts/setup-avahi-netns                 # once: avahi-daemon, avahi-utils, ip, unshare
#   sudo tests/manual/avahi-netns.sh [BUILD]  # BUILD: a configured build folder (default build-test)
#
# It builds test_platform, makes a private network and mount namespace (loopback plus a veth pair of its own,
# so no packet reaches a real interface), starts a private D-Bus system bus and avahi-daemon in it, and
# runs the AvahiNetns tests there with KELVARO_AVAHI_NETNS=1: they publish "_x-tevkelvaro._tcp" with
# avahi-publish, browse for it with NetServiceBrowser and connect a ServiceStreamPair to their listener.
# Exit status: 0 passed, 1 failed, 77 skipped (not root, no namespaces, or a tool is missing).
set -euo pipefail
script=$(realpath "$0")

skip() {
  echo "avahi-netns: skipped: $*" >&2
  exit 77
}

if [ "${1:-}" = "--inside" ]; then
  # In the new namespaces: private /run for the daemon's pid file and socket, then bus, daemon, tests.
  binary=$2
  work=$3
  mount -t tmpfs kelvaro-run /run
  mkdir -p /run/avahi-daemon
  ip link set lo up
  # A veth pair with both ends in here gives avahi a multicast interface; without one, loopback only.
  if ip link add kv-avahi0 type veth peer name kv-avahi1 2>/dev/null; then
    ip link set kv-avahi1 up
    ip link set kv-avahi0 up
    ip addr add 10.203.77.1/24 dev kv-avahi0
  else
    echo "avahi-netns: no veth interfaces here; avahi gets the loopback interface only" >&2
  fi

  cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
  cat >"$work/avahi-daemon.conf" <<CONF
[server]
host-name=kelvaro-netns
use-ipv4=yes
use-ipv6=yes
allow-interfaces=lo,kv-avahi0
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF

  pids=()
  cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
  }
  trap cleanup EXIT

  export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system_bus_socket"
  dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile &
  pids+=($!)
  for _ in $(seq 50); do [ -S "$work/system_bus_socket" ] && break; sleep 0.1; done
  [ -S "$work/system_bus_socket" ] || { echo "avahi-netns: the private bus did not start" >&2; exit 1; }

  avahi-daemon -f "$work/avahi-daemon.conf" --no-chroot --no-drop-root --no-rlimits --no-proc-title \
    >"$work/avahi.log" 2>&1 &
  pids+=($!)
  # State 2 is AVAHI_SERVER_RUNNING: the host name is established and services can be published.
  state=
  for _ in $(seq 100); do
    state=$(dbus-send --system --print-reply=literal --dest=org.freedesktop.Avahi / \
      org.freedesktop.Avahi.Server.GetState 2>/dev/null | awk '{print $2}') || true
    [ "$state" = "2" ] && break
    sleep 0.1
  done
  if [ "$state" != "2" ]; then
    echo "avahi-netns: avahi-daemon did not come up (state '${state}'); its log:" >&2
    cat "$work/avahi.log" >&2
    exit 1
  fi

  status=0
  KELVARO_AVAHI_NETNS=1 "$binary" --gtest_filter='AvahiNetns.*' || status=$?
  if [ "$status" -ne 0 ]; then
    echo "avahi-netns: the daemon's log:" >&2
    cat "$work/avahi.log" >&2
  fi
  exit "$status"
fi

cd "$(dirname "$0")/../.."
build=${1:-build-test}

[ "$(id -u)" -eq 0 ] || skip "needs root for the network namespace, the private /run and avahi-daemon (try sudo)"
for tool in avahi-daemon avahi-publish dbus-daemon dbus-send ip unshare; do
  command -v "$tool" >/dev/null || skip "$tool is missing; scripts/setup-avahi-netns installs it"
done
unshare --net --mount true 2>/dev/null || skip "this machine does not allow new network namespaces"

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVARO_SANITIZE=ON >/dev/null
fi
cmake --build "$build" --target test_platform
binary=$(find "$build" -name test_platform -type f -perm -u+x | head -n 1)
[ -n "$binary" ] || { echo "avahi-netns: no test_platform in $build" >&2; exit 1; }

work=$(mktemp -d /tmp/kelvaro-avahi-netns.XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
unshare --net --mount --propagation private --fork -- "$script" --inside "$(realpath "$binary")" "$work" || status=$?
exit "$status"
