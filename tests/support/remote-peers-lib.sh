# Remote computers for the end-to-end scripts (sourced after session-lib.sh): copies of a simulated computer,
# each with a serial number of its own, served by the test peer as processes of their own on loopback, and
# the preferences that make Kelvaro connect them at its start.

# Copies the simulated computer SOURCE to DEST with SERIAL (12 characters) in place of its own serial number,
# in the DMI files and the SMBIOS table alike. Usage: copy_computer SOURCE DEST SERIAL
copy_computer() {
  cp -r "$1" "$2"
  python3 - "$2" "$3" <<'PYTHON'
import os, sys
root, serial = sys.argv[1], sys.argv[2].encode()
old = open(os.path.join(root, "root/sys/class/dmi/id/product_serial"), "rb").read().strip()
assert len(serial) == len(old), "the serial number keeps its length, so the SMBIOS table keeps its layout"
for folder, _, files in os.walk(os.path.join(root, "root/sys")):
    for name in files:
        path = os.path.join(folder, name)
        if os.path.islink(path):
            continue
        data = open(path, "rb").read()
        if old in data:
            open(path, "wb").write(data.replace(old, serial))
PYTHON
}

# Starts the test peer PEER serving COMPUTER, with the peer's further ARGUMENTS (a port, a mode); its output
# goes to $scratch/NAME.out and .err. Sets $peer_pid and $peer_port once it listens.
# Usage: start_peer PEER COMPUTER NAME [ARGUMENTS...]
start_peer() {
  local program=$1 served=$2 name=$3
  shift 3
  : >"$scratch/$name.out"
  "$program" "$served" "$@" >>"$scratch/$name.out" 2>"$scratch/$name.err" &
  peer_pid=$!
  pids+=("$peer_pid")
  [[ " ${fail_tails[*]} " == *" $scratch/$name.out "* ]] || fail_tails+=("$scratch/$name.out")
  wait_until 60 "the peer $name did not listen" grep -q '^listening on ' "$scratch/$name.out"
  peer_port=$(sed -n 's/^listening on //p' "$scratch/$name.out")
}

# Starts COUNT peers of copies of COMPUTER named remote1 ... remoteCOUNT, serial numbers KVREMOTE0001 ...;
# $remote_serials, $remote_ports and $remote_pids list them in that order.
# Usage: start_remote_computers PEER COMPUTER COUNT
start_remote_computers() {
  local i serial
  remote_serials=() remote_ports=() remote_pids=()
  for i in $(seq 1 "$3"); do
    serial=$(printf 'KVREMOTE%04d' "$i")
    copy_computer "$2" "$scratch/computer$i" "$serial"
    start_peer "$1" "$scratch/computer$i" "remote$i"
    remote_serials+=("$serial") remote_ports+=("$peer_port") remote_pids+=("$peer_pid")
  done
}

# Kelvaro's preferences that connect every computer of $remote_serials / $remote_ports at its start, with
# KEY=PYTHON-VALUE pairs added. Usage: write_remote_preferences [KEY=VALUE...]
write_remote_preferences() {
  mkdir -p "$(dirname "$(preferences_file)")"
  python3 - "$(preferences_file)" "${remote_serials[*]}" "${remote_ports[*]}" "$@" <<'PYTHON'
import plistlib, sys
serials, ports = sys.argv[2].split(), [int(p) for p in sys.argv[3].split()]
preferences = {"PreferencesVersion": 3, "ReconnectClientsAtLaunchTime": True,
               "KnownRemoteConnections": {s: ["127.0.0.1", p] for s, p in zip(serials, ports)},
               "ActiveRemoteConnections": serials}
for pair in sys.argv[4:]:
    key, value = pair.split("=", 1)
    preferences[key] = eval(value)
with open(sys.argv[1], "wb") as f:
    plistlib.dump(preferences, f)
PYTHON
}

# Invocations of SELECTOR the peer NAME has answered so far. Usage: peer_requests NAME SELECTOR
peer_requests() { grep -c "^request invoke $2\$" "$scratch/$1.out" || true; }
