"""What the preferences a program left at its end must hold of its session."""

import plistlib
import re


def session_problems(scenario, serial, model, sensors, path, remote=""):
    """One gauge per sensor of this computer (and those of a remote one besides), the computer listed as seen;
    or, with the import offer open ("import"), nothing of it. SCENARIO "remote" has a remote computer REMOTE;
    any other is a session with nothing remote and nothing undecided. The problems found, none when all is
    well."""
    with open(path, "rb") as f:
        prefs = plistlib.load(f)
    machines = prefs.get("MachinePreferences", {})
    seen = [c.get("SerialNumber") for c in prefs.get("SeenModels", {}).get(model, [])]
    errors = []
    if scenario == "import":
        # Undecided: no set of this computer, and it is not listed as seen, so the offer comes again.
        if serial in machines:
            errors.append(f"a set was filed for {serial} while the import offer was open")
        if serial in seen:
            errors.append(f"{serial} was filed as seen while the import offer was open: {seen}")
        if "OLDBOARD1" not in seen:
            errors.append(f"the computer offered for import is no longer listed: {seen}")
    else:
        if serial not in machines:
            errors.append(f"no MachinePreferences for {serial!r}: {sorted(machines)}")
        else:
            # One gauge per sensor of this computer, and those of the remote one besides.
            gauges = len(machines[serial].get("AvailableGauges", []))
            if gauges < len(sensors) or (gauges > len(sensors)) != (scenario == "remote"):
                errors.append(f"{gauges} gauges for {len(sensors)} sensors of this computer")
        if serial not in seen:
            errors.append(f"{serial} not listed under {model} in SeenModels: {seen}")
    if scenario == "remote" and remote not in prefs.get("ActiveRemoteConnections", []):
        errors.append(f"the remote computer {remote} is no longer remembered: {prefs.get('ActiveRemoteConnections')}")
    return errors


def archived_values(preferences):
    """The archived values (typedstreams, binary property lists) anywhere in PREFERENCES, each once."""
    found = []

    def walk(node):
        if isinstance(node, dict):
            for value in node.values():
                walk(value)
        elif isinstance(node, list):
            for value in node:
                walk(value)
        elif isinstance(node, bytes) and (node.startswith(b"\x04\x0bstreamtyped") or node.startswith(b"bplist")):
            found.append(node)
    walk(preferences)
    return list(dict.fromkeys(found))


def stored_positions(preferences):
    """Every stored window frame's position: "PATH: X Y" each, sorted."""
    found = []

    def walk(node, path):
        if isinstance(node, dict):
            for key, value in node.items():
                walk(value, f"{path}/{key}")
        elif isinstance(node, list):
            for i, value in enumerate(node):
                walk(value, f"{path}/{i}")
        elif isinstance(node, str) and re.match(r"-?\d+ -?\d+", node) and ("Frame" in path or "Autosave" in path):
            found.append(f"{path}: {' '.join(node.split()[:2])}")
    walk(preferences, "")
    return sorted(found)
