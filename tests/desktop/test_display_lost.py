"""A logout as the X server sees it: the server is killed under Kelvaro. The process ends with status 1 (not a
signal), having written the preferences and a history file that decodes and logged what it saved."""

import plistlib
import re
import subprocess
import time

import pytest

from kelvaro_desktop.peers import Peer
from kelvaro_desktop.saved import session_problems
from kelvaro_desktop.waits import wait_until
from kelvaro_desktop.x11 import XServer, need_tools, shown_windows, xdotool


def machine_of(programs, session, computer):
    return plistlib.loads(subprocess.run([programs.dump, "--simulate", computer, "machine"], capture_output=True,
                                         env=session.environment, check=True).stdout)


def window_named(session, pid, name):
    """Waits until a viewable window of PID is named NAME (a regular expression); its id."""
    return wait_until(lambda: next(iter(shown_windows(session, f"^{name}$", pid)), None),
                      f'Kelvaro showed no window "{name}"')


def lose_display(x_server, kelvaro):
    x_server.stop()
    status = kelvaro.wait_ended("Kelvaro still runs 30 s after its X server went away", 30)
    assert status == 1, f"Kelvaro ended with status {status} after its X server went away, not 1"
    # A sanitizer build reports a crash with status 1 too.
    assert not re.search("ERROR: AddressSanitizer|runtime error:", kelvaro.log()), \
        "Kelvaro crashed at the end of its display"


SCENARIOS = {
    # What the session did before the logout.
    "fresh": "nothing (2.5 s after the start)",
    "preferences": "the preference window opened (Ctrl+,) and closed (Escape)",
    "remote": "a remembered remote computer, given by host name (localhost), connected",
    "import": 'the "Import Preferences" offer still open: nothing of this computer is filed',
}


@pytest.mark.parametrize("scenario", list(SCENARIOS))
def test_the_lost_display_saves_the_session(programs, session, scenario):
    if scenario in ("preferences", "import"):
        need_tools("xdotool")
    computer = programs.computer("portable")
    machine = machine_of(programs, session, computer)
    serial, model = machine["systemSerialNumber"], machine["systemModelCode"]
    remote_serial = ""
    if scenario == "remote":
        tower = programs.computer("tower")
        peer = Peer(session, programs.peer, tower, "peer")
        remote_serial = machine_of(programs, session, tower)["systemSerialNumber"]
        session.write_preferences({"PreferencesVersion": 3, "ActiveRemoteConnections": [remote_serial],
                                   "KnownRemoteConnections3": {remote_serial: {
                                       "ConnectionSpecifier": "Manual", "ServiceName": "localhost",
                                       "ServicePort": peer.port}}})
    elif scenario == "preferences":
        # A window to type into: the sensor window opens at the start.
        session.write_preferences({"PreferencesVersion": 3, "SensorWindowOpen": True})
    elif scenario == "import":
        session.write_preferences({"PreferencesVersion": 3, "SeenModels": {
            model: [{"HostOrComputerName": "old-board", "SerialNumber": "OLDBOARD1"}]}})
    stored_at = session.preferences_file.stat().st_mtime_ns if session.preferences_file.exists() else 0

    x_server = XServer(session)
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", computer)
    if scenario == "fresh":
        kelvaro.wait_ready("Kelvaro")
        # Sampling through a tick of the default 2 s interval when the display goes, as in a real session.
        # Nothing waits on the tick: what the save keeps is there from the "monitoring" line on.
        time.sleep(2.5)
        assert not session.preferences_file.exists(), "preferences were written before the end"
    elif scenario == "preferences":
        kelvaro.wait_ready("Kelvaro")
        window = window_named(session, kelvaro.pid, "Sensors")
        xdotool(session, "windowfocus", "--sync", window, "key", "--clearmodifiers", "ctrl+comma")
        window = window_named(session, kelvaro.pid, "Kelvaro Preferences: .*")
        xdotool(session, "windowfocus", "--sync", window, "key", "--clearmodifiers", "Escape")
        wait_until(lambda: not shown_windows(session, "^Kelvaro Preferences: .*$", kelvaro.pid),
                   "the preference window was still shown after it was closed")
        # The closed window wrote the preferences; the logout must write them again.
        wait_until(lambda: session.preferences_file.stat().st_mtime_ns > stored_at,
                   "closing the preference window wrote no preferences")
    elif scenario == "remote":
        kelvaro.wait_ready("Kelvaro")
        # Connected, and its sensors made gauges (once their descriptions came, a tick or more after readiness).
        wait_until(lambda: re.search(r"sensors of '.*' added as gauges", kelvaro.log()), "the remote computer's gauges")
    else:
        window_named(session, kelvaro.pid, "Import Preferences")

    # Nothing writes the history before the end (autosave is off): one that exists afterwards was written by it.
    assert not session.history_file.exists(), "a history file was written before the end"
    lose_display(x_server, kelvaro)

    history = session.history_file
    assert history.exists() and history.stat().st_size > 0, "no history file written after the X server went away"
    decoded = subprocess.run([programs.dump, "history", history], capture_output=True, text=True,
                             env=session.environment)
    assert decoded.returncode == 0, "the history file does not decode"
    assert serial in decoded.stdout, f"the history file holds nothing of {serial}"
    # Written unless unchanged since the preference window's close wrote them; the log says which.
    assert re.search(r"saved at the display's end: preferences (written to|unchanged in) .*; long-term histories "
                     "written", kelvaro.log()), "Kelvaro did not log what it saved at the lost display"
    listed = subprocess.run([programs.dump, "--simulate", computer, "sensors"], capture_output=True, text=True,
                            env=session.environment, check=True).stdout.splitlines()
    sensors = [l.split("\t")[0] for l in listed if l and not l.startswith("artificial.")]
    problems = session_problems(scenario, serial, model, sensors, session.preferences_file, remote_serial)
    assert not problems, f"the files Kelvaro left do not hold its session: {problems}"
    assert "ending without a quit" in kelvaro.log(), "Kelvaro did not say that it saved at the lost display"


def test_a_full_disk_at_the_lost_display_is_told_at_the_next_start(programs, session):
    """A file-size limit (as a full disk) leaves room for the preferences (some KiB), not for the histories
    (MiB): the logout logs why they were not written, and the next start tells the user, once."""
    computer = programs.computer("portable")
    x_server = XServer(session)
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", computer, file_size_limit=256 * 1024)
    kelvaro.wait_ready("Kelvaro")
    # Through a tick, as in a real session; nothing waits on it.
    time.sleep(2.5)
    assert not session.preferences_file.exists(), "preferences were written before the end"
    lose_display(x_server, kelvaro)
    assert re.search(r"saved at the display's end: preferences written to .*; long-term histories not written "
                     r"\(.*File too large", kelvaro.log()), "Kelvaro did not log why the histories were not written"

    XServer(session, name="xvfb-2")
    kelvaro = session.start("next", programs.kelvaro, "--simulate", computer)
    kelvaro.wait_ready("Kelvaro")
    wait_until(lambda: re.search(r"told the user: .*sensor histories could not be saved.*File too large", kelvaro.log()),
               "notice of the failed save")
    kelvaro.quit_cleanly("Kelvaro")
    kelvaro = session.start("after", programs.kelvaro, "--simulate", computer)
    kelvaro.wait_ready("Kelvaro")
    kelvaro.quit_cleanly("Kelvaro")
    assert "told the user" not in kelvaro.log(), "the failed save was told twice"
