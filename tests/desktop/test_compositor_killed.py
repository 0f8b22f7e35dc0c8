"""The compositor killed under a program again and again: every time it saves before the process ends."""

import os
import plistlib
import random
import re
import subprocess
import time

import pytest

from kelvaro_desktop.saved import session_problems
from kelvaro_desktop.wayland import Weston, lose_compositor

GONE = {"native": "the Wayland compositor", "xwayland": "the X server"}


def describe(programs, session, computer):
    machine = plistlib.loads(subprocess.run([programs.dump, "--simulate", computer, "machine"],
                                            capture_output=True, env=session.environment, check=True).stdout)
    listed = subprocess.run([programs.dump, "--simulate", computer, "sensors"], capture_output=True, text=True,
                            env=session.environment, check=True).stdout.splitlines()
    sensors = [line.split("\t")[0] for line in listed if line and not line.startswith("artificial.")]
    return machine["systemSerialNumber"], machine["systemModelCode"], sensors


def unsaved(programs, session, process, program, mode, killed, serial, model, sensors):
    """Why the round's end saved nothing, or None."""
    log = process.log()
    if not process.has_logged(f"{program}: ending without a quit: {GONE[mode]} went away"):
        return 'no "ending without a quit"'
    if program == "KelvaroLite":
        return None if process.has_logged("KelvaroLite: saved at the display's end: nothing to write") \
            else "no \"saved at the display's end\""
    if not re.search(r"^Kelvaro: saved at the display's end: preferences written to .*; long-term histories written",
                     log, re.MULTILINE):
        return "no \"saved at the display's end\" with the preferences and histories written"
    for path, what in ((session.preferences_file, "preferences"), (session.history_file, "history")):
        if not path.exists() or path.stat().st_mtime_ns <= killed:
            return f"no {what} written after the kill"
    history = subprocess.run([programs.dump, "history", session.history_file], capture_output=True, text=True,
                             env=session.environment)
    if history.returncode != 0:
        return "the history does not decode"
    if serial not in history.stdout:
        return f"the history holds nothing of {serial}"
    problems = session_problems("fresh", serial, model, sensors, session.preferences_file)
    return f"the preferences do not hold the session: {problems}" if problems else None


@pytest.mark.parametrize("mode,program,rounds", [pytest.param("native", "Kelvaro", 20, id="Kelvaro"),
                                                  pytest.param("native", "KelvaroLite", 5, id="KelvaroLite")])
def test_every_compositor_kill_saves_first(programs, session, session_bus, mode, program, rounds):
    """Weston (headless) with a session bus of its own; PROGRAM started in it each round and weston killed 1
    to 3 s after the program is ready, at a point picked at random. Every round the process ends with status
    1 once it has saved and said so: Kelvaro's preferences (one gauge per sensor) and history (decoding, with
    this computer's records) written after the kill, KelvaroLite's line that it had nothing to write. Every
    round is run; the rounds that lost are told at the end."""
    computer = programs.computer("portable")
    serial, model, sensors = describe(programs, session, computer)
    binary, name = (programs.kelvaro, "kelvaro") if program == "Kelvaro" else (programs.lite, "lite")
    lost = []
    for round_ in range(1, rounds + 1):
        weston = Weston(session, mode, round_)
        if mode == "xwayland":
            session.environment.pop("QT_QPA_PLATFORM", None)
            session.environment["XDG_SESSION_TYPE"] = "wayland"
        # Each round a first start: its preferences exist only once it has saved. The history stays, and the
        # program reads it again.
        if session.preferences_file.exists():
            session.preferences_file.unlink()
        process = session.start(name, binary, "--simulate", computer)
        process.wait_ready(program)
        # The kill's moment, not a wait: a point picked at random in the first seconds of a session.
        delay = random.uniform(1.0, 3.0)
        time.sleep(delay)
        if program == "Kelvaro":
            assert not session.preferences_file.exists(), f"round {round_}: preferences were written before the end"
        # Nothing writes the history before the end (autosave is off): one newer than this was written by it.
        killed = time.time_ns()
        lose_compositor(weston, process, program)
        why = unsaved(programs, session, process, program, mode, killed, serial, model, sensors)
        print(f"round {round_}: weston killed {delay * 1000:.0f} ms after {program} was ready: "
              f"{'saved' if why is None else 'LOST (' + why + ')'}")
        if why is not None:
            lost.append(round_)
            os.rename(process.err, session.folder / f"lost-round-{round_}.{'err' if len(lost) == 1 else 'log'}")
    assert not lost, f"{program} ({mode}) saved in {rounds - len(lost)} of {rounds} compositor kills; lost in rounds {lost}"
