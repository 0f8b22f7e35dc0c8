"""Kelvaro's windows on a virtual X server, as a next start brings them back."""

import subprocess

from kelvaro_desktop.waits import wait_until
from kelvaro_desktop.x11 import need_tools


def shown_titles(session):
    """The titles of the program's viewable top-level windows (tray icons and the untitled screen display left
    out), sorted, each without its " - COMPUTER" part."""
    tree = subprocess.run(["xwininfo", "-root", "-children"], capture_output=True, text=True,
                          env=session.environment).stdout
    titles = []
    for line in tree.splitlines():
        if '("Kelvaro" "Kelvaro")' not in line:
            continue
        window, rest = line.split(None, 1)
        title = rest.split('": (', 1)[0].lstrip('"')
        info = subprocess.run(["xwininfo", "-id", window], capture_output=True, text=True,
                              env=session.environment).stdout
        if "Map State: IsViewable" in info and title != "Kelvaro":
            titles.append(title.split(" - ")[0])
    return sorted(titles)


def run(session, programs, count):
    """One run: start, wait until ready and COUNT windows are shown, quit; the titles shown (none looked at
    for COUNT 0). The program shows
    the windows of the last quit before it says it monitors; the X server maps them soon after."""
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", programs.computer("portable"))
    kelvaro.wait_ready("Kelvaro")
    def enough():
        titles = shown_titles(session)
        return titles if len(titles) >= count else None
    titles = wait_until(enough, f"{count} windows were not shown", 30) if count else []
    kelvaro.quit_cleanly("Kelvaro")
    return titles


def test_the_windows_open_at_the_last_quit_come_back(programs, session, x_server):
    """A run quit with the sensor window, the system information and the extreme values open records those
    three, and the next start opens exactly those three again."""
    need_tools("xwininfo")
    # The first run only writes the preferences: what it shows is not checked.
    run(session, programs, 0)
    assert session.preferences_file.exists(), "no preferences written"
    session.open_at_next_start("SensorWindowOpen", "SystemInfoOpen", "ExtremeValuesWindowOpen")
    second = run(session, programs, 3)
    third = run(session, programs, 3)
    assert len(second) == 3, f"three windows expected, shown: {second}"
    assert second == third, f"quit with {second} open, reopened {third}"
