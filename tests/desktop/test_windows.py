"""Kelvaro's windows on a virtual X server, as a next start brings them back."""

import plistlib
import re
import subprocess

from kelvaro_desktop.waits import wait_until
from kelvaro_desktop.x11 import XServer, need_tools, screenshot, window_info


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


def sensor_window_place(session, kelvaro, name):
    """Waits until the sensor window is shown; (x, y, width, height) of it, the screen kept in a picture NAME
    where asked for."""
    def shown():
        tree = subprocess.run(["xwininfo", "-root", "-children"], capture_output=True, text=True,
                              env=session.environment).stdout
        for line in tree.splitlines():
            if re.search(r'"Sensors[^"]*": \("Kelvaro" "Kelvaro"\)', line):
                info = window_info(session, line.split()[0])
                if info.get("Map State") == "IsViewable":
                    return info
        return None
    info = wait_until(shown, "no sensor window was shown", 30)
    screenshot(session, name)
    return tuple(int(info[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))


def test_a_window_saved_beyond_a_smaller_screen_comes_back_onto_it(programs, session):
    """A run on a 1600x1000 screen quits with its sensor window recorded at (1300, 860); the next start on an
    800x600 screen shows at least 50x30 pixels of that window, and the quit records a place on the screen."""
    need_tools("xwininfo")
    computer = programs.computer("portable")
    large = XServer(session, "1600x1000", name="xvfb-large")
    kelvaro = session.start("large", programs.kelvaro, "--simulate", computer)
    kelvaro.wait_ready("Kelvaro")
    sensor_window_place(session, kelvaro, "large")
    kelvaro.quit_cleanly("Kelvaro")
    large.stop()
    assert session.preferences_file.exists(), "no preferences written"
    # The user left the sensor window at (1300, 860), partly beyond the right and bottom edges.
    data = session.preferences_file.read_bytes()
    prefs = plistlib.loads(data)
    frame = prefs.get("TEVWindowFrame-StandardWindow", "0 0 300 120").split()
    prefs["TEVWindowFrame-StandardWindow"] = " ".join(["1300", "860"] + frame[2:])
    prefs["TEVSpecialAutosave-StandardWindow"] = "1300 860"
    prefs["SensorWindowOpen"] = True
    session.preferences_file.write_bytes(
        plistlib.dumps(prefs, fmt=plistlib.FMT_BINARY if data.startswith(b"bplist") else plistlib.FMT_XML))

    XServer(session, "800x600", name="xvfb-small")
    kelvaro = session.start("small", programs.kelvaro, "--simulate", computer)
    kelvaro.wait_ready("Kelvaro")
    x, y, w, h = sensor_window_place(session, kelvaro, "small")
    kelvaro.quit_cleanly("Kelvaro")
    visible_w = min(x + w, 800) - max(x, 0)
    visible_h = min(y + h, 600) - max(y, 0)
    assert visible_w >= 50 and visible_h >= 30, \
        f"the sensor window at {x},{y} ({w}x{h}) shows {visible_w}x{visible_h} pixels of itself on the 800x600 screen"
    rx, ry = (int(v) for v in session.read_preferences()["TEVSpecialAutosave-StandardWindow"].split()[:2])
    assert 0 <= rx < 800 - 50 and 0 <= ry < 600 - 30, f"the quit on the small screen recorded {rx}, {ry}"
