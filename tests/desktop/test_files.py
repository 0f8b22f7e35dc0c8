"""The files Kelvaro keeps, where and how the user keeps them."""

import os
import plistlib
import re
import subprocess

import pytest

from kelvaro_desktop.x11 import XServer


def serial_of(programs, computer, session):
    machine = subprocess.run([programs.dump, "--simulate", computer, "machine"], capture_output=True,
                             env=session.environment, check=True).stdout
    return plistlib.loads(machine)["systemSerialNumber"]


@pytest.mark.parametrize("end", ["sigterm", "display"])
def test_files_kept_through_links_stay_links_and_their_targets_are_written(programs, session, end):
    """The preferences a relative link to a file of a synced folder that holds a key of the user's, the
    histories an absolute link to a file not made yet. Ended by SIGTERM once monitoring, or by its X server
    killed under it (a logout as the server sees it): both links are still the links they were, and their
    targets hold what it wrote: the user's key and this computer's settings, and a history file that
    decodes to this computer's histories, with no temporary file left beside either."""
    computer = programs.computer("portable")
    serial = serial_of(programs, computer, session)
    home = session.folder / "home"
    prefs, history = session.preferences_file, session.history_file
    for folder in (prefs.parent, history.parent, home / "sync", home / "dotfiles"):
        folder.mkdir(parents=True, exist_ok=True)
    stored = plistlib.dumps({"PreferencesVersion": 3, "KeptInSync": "yes"})
    (home / "sync/kelvaro.plist").write_bytes(stored)
    os.symlink("../../sync/kelvaro.plist", prefs)
    os.symlink(home / "dotfiles/SensorHistory.tevshf", history)

    x_server = XServer(session)
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", computer)
    kelvaro.wait_ready("Kelvaro")
    if end == "sigterm":
        kelvaro.quit_cleanly("Kelvaro")
    else:
        x_server.stop()
        status = kelvaro.wait_ended("Kelvaro's end after its X server went away")
        assert status == 1, f"Kelvaro ended with status {status} after its X server went away, not 1"
        assert re.search(r"saved at the display's end: preferences written to .*; long-term histories written",
                         kelvaro.log()), "Kelvaro did not log that it saved both files at the lost display"
    # A sanitizer build reports a crash with status 1 too.
    assert "ERROR: AddressSanitizer" not in kelvaro.log() and "runtime error:" not in kelvaro.log(), \
        "Kelvaro crashed at its end"

    assert prefs.is_symlink(), "the preferences link was replaced by a file"
    assert os.readlink(prefs) == "../../sync/kelvaro.plist", f"the preferences link now leads to {os.readlink(prefs)}"
    assert history.is_symlink(), "the history link was replaced by a file"
    assert os.readlink(history) == str(home / "dotfiles/SensorHistory.tevshf"), \
        f"the history link now leads to {os.readlink(history)}"

    written = (home / "sync/kelvaro.plist").read_bytes()
    assert written != stored, "the preferences' target keeps its old contents"
    kept = plistlib.loads(written)
    assert kept.get("KeptInSync") == "yes", "the user's own key is gone"
    assert serial in kept.get("MachinePreferences", {}), \
        f"no MachinePreferences for {serial!r}: {sorted(kept.get('MachinePreferences', {}))}"

    target = home / "dotfiles/SensorHistory.tevshf"
    assert target.exists() and target.stat().st_size > 0, "no history written at the link's target"
    decoded = subprocess.run([programs.dump, "history", target], capture_output=True, text=True,
                             env=session.environment)
    assert decoded.returncode == 0, "the history at the link's target does not decode"
    assert serial in decoded.stdout, f"the history at the link's target holds nothing of {serial}"
    # Nothing left beside the targets: no temporary file of a save.
    assert sorted(os.listdir(home / "sync")) == ["kelvaro.plist"], f"beside the preferences' target: {os.listdir(home / 'sync')}"
    assert sorted(os.listdir(home / "dotfiles")) == ["SensorHistory.tevshf"], \
        f"beside the history's target: {os.listdir(home / 'dotfiles')}"
