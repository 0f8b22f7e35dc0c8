"""Kelvaro's windows on a virtual X server, as a next start brings them back."""

import hashlib
import plistlib
import re
import subprocess

import pytest

from kelvaro_desktop.tray import Trayer
from kelvaro_desktop.waits import WaitTimeout, wait_until
from kelvaro_desktop.x11 import (XServer, need_tools, screenshot, shown_windows, top_level_windows, window_info,
                                 xdotool)


def shown_titles(session):
    """The titles of the program's viewable top-level windows (tray icons and the untitled screen display left
    out), sorted, each without its " - COMPUTER" part."""
    return sorted(title.split(" - ")[0] for _, title, _ in top_level_windows(session) if title != "Kelvaro")


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
        return next((info for _, title, info in top_level_windows(session) if title.startswith("Sensors")), None)
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


class Screen:
    """The program's windows on the X display as a user meets them: found by title, looked at, clicked."""

    def __init__(self, session, pid):
        self.session, self.pid = session, pid

    def titled(self, pattern):
        return next(iter(shown_windows(self.session, pattern, self.pid)), None)

    def wait_titled(self, pattern, what, timeout=60):
        return wait_until(lambda: self.titled(pattern), what, timeout)

    def shown(self):
        return xdotool(self.session, "search", "--all", "--onlyvisible", "--pid", self.pid, "--class", "Kelvaro")

    def viewable(self, window):
        return window_info(self.session, window).get("Map State") == "IsViewable"

    def picture(self, window):
        return hashlib.md5(subprocess.run(["import", "-window", window, "rgb:-"], capture_output=True,
                                          env=self.session.environment).stdout).hexdigest()

    def wait_redrawn(self, window, what):
        """Until WINDOW looks other than it does now (a tick drew it anew)."""
        before = self.picture(window)
        wait_until(lambda: self.picture(window) != before, what)

    def focused_on(self, window):
        return xdotool(self.session, "getwindowfocus") == [window]

    def focus(self, window, what):
        def taken():
            xdotool(self.session, "windowfocus", window)
            return self.focused_on(window)
        wait_until(taken, what, 20)

    def keys(self, *keys):
        # A user's typing pace: a menu takes each key after it has drawn the last one.
        xdotool(self.session, "key", "--delay", "200", *keys)

    def click(self, window, x, y, *more):
        xdotool(self.session, "mousemove", "--window", window, x, y, "click", *more, "1")

    def kept(self, step, *windows):
        """Each window is still there and viewable."""
        for window in windows:
            assert self.viewable(window), f"the X window {window} went or was hidden (at the {step})"

    def window_menu(self, sensors, *keys):
        """The Window menu of the sensor window, the item reached by KEYS: the menu bar's first title opened by
        a click, then Left wraps to the last one, Window."""
        self.focus(sensors, "the sensor window did not take the focus")
        before = len(self.shown())
        self.click(sensors, 20, 8)
        wait_until(lambda: len(self.shown()) > before, "no menu opened on a click on the menu bar", 20)
        self.keys("Left", *keys)


def test_the_overview_and_its_details_panel_keep_their_windows(programs, session):
    """A user's first minutes with the overview, with no window manager on a 1600x1000 screen: the colours
    question answered Yes, the preference window's colour choice changed twice and closed with Ctrl+W, the
    overview's details panel opened on one row, left open for some ticks, closed with Escape and opened on
    another row. Every window keeps its X window through it, and the Window menu then opens the overview,
    the system information and the extreme values, which are recorded open at the quit."""
    need_tools("xdotool", "xwininfo", "import")
    XServer(session, "1600x1000")
    computer = programs.computer("portable")
    first = session.start("first", programs.kelvaro, "--simulate", computer)
    first.wait_ready("Kelvaro")
    first.quit_cleanly("first")

    # The second start asks for the sensors' colours; answered with the key of its default button, Yes.
    session.environment.pop("KELVARO_NONINTERACTIVE", None)
    kelvaro = session.start("second", programs.kelvaro, "--simulate", computer)
    kelvaro.wait_ready("Kelvaro")
    screen = Screen(session, kelvaro.pid)
    overview = screen.wait_titled("^Sensor Overview", "no sensor window and overview")
    sensors = screen.titled("^Sensors$")
    # The question has no title of its own (only _NET_WM_NAME): the third window.
    question = wait_until(lambda: next((w for w in reversed(screen.shown()) if w not in (sensors, overview)), None),
                          "no colours question")
    # A click on its text gives it the keyboard as a user's would.
    screen.click(question, 250, 20)
    wait_until(lambda: screen.focused_on(question), "the question did not take the focus", 20)
    screen.keys("Return")
    wait_until(lambda: not screen.viewable(question), "the question was not answered", 30)

    step = "preference window"
    screen.focus(sensors, "the sensor window did not take the focus")
    screen.keys("ctrl+comma")
    prefs = screen.wait_titled("^Kelvaro Preferences: ", "Ctrl+, opened no preference window")

    def window_pane():
        # A click that came before the toolbar took it is made again.
        screen.click(prefs, 165, 50)
        return wait_until(lambda: screen.titled("^Kelvaro Preferences: Window$"), "the Window pane", 2)
    wait_until(lambda: _try(window_pane), "the preference window's Window pane", 30)
    # "In sensor colours", then "In one colour": each shown in the sensor window at its next tick.
    for x in (252, 535):
        before = screen.picture(sensors)
        screen.click(prefs, x, 184)
        wait_until(lambda: screen.picture(sensors) != before,
                   "the sensor window was not drawn again after a colour choice")
    screen.keys("ctrl+w")
    wait_until(lambda: not screen.viewable(prefs), "Ctrl+W did not close the preference window")
    screen.kept(step, sensors, overview)

    step = "details panel"
    screen.click(overview, 56, 92, "--repeat", "2", "--delay", "80")
    panel = screen.wait_titled("^Sensor Information$", "a double click on a row opened no details panel")
    # Left open while the ticks go on.
    for _ in range(6):
        screen.wait_redrawn(overview, "the overview was not drawn again")
        screen.kept(step, sensors, overview, panel)
    screen.focus(panel, "the details panel did not take the focus")
    screen.keys("Escape")
    wait_until(lambda: not screen.viewable(panel), "Escape did not close the details panel", 30)
    screen.kept(step, sensors, overview)
    screen.click(overview, 56, 152, "--repeat", "2", "--delay", "80")
    screen.wait_titled("^Sensor Information$", "a double click on a row two below opened no details panel")
    screen.kept(step, sensors, overview)

    step = "Window menu"
    # System Information (the seventh item from the end), then the overview closed and opened again (eighth).
    screen.window_menu(sensors, *["Up"] * 6, "Return")
    screen.wait_titled("^System Information", "Window > System Information opened no window")
    screen.focus(overview, "the overview did not take the focus")
    screen.keys("ctrl+w")
    wait_until(lambda: not screen.viewable(overview), "Ctrl+W did not close the overview", 30)
    screen.window_menu(sensors, *["Up"] * 7, "Return")
    overview = screen.wait_titled("^Sensor Overview", "Window > Overview opened no window")
    screen.window_menu(sensors, "Home", "Down", "Down", "Down", "Return")
    screen.wait_titled("^Extreme Values", "Window > Extreme Values opened no window")
    screen.kept(step, sensors, overview, screen.titled("^System Information"), screen.titled("^Extreme Values"))

    kelvaro.quit_cleanly("Kelvaro")
    stored = session.read_preferences()
    closed = [k for k in ("SensorWindowOpen", "OverviewOpen", "SystemInfoOpen", "ExtremeValuesWindowOpen")
              if not stored.get(k)]
    assert not closed, f"the open windows were not recorded open: {closed}"


def _try(attempt):
    """An attempt's result, or None where its own wait ran out: to be made again."""
    try:
        return attempt()
    except WaitTimeout:
        return None


def shown_frames(session):
    """The program's shown top-level windows: (x, y, width, height, shape extents or "-", title)."""
    return [(int(info["Absolute upper-left X"]), int(info["Absolute upper-left Y"]), int(info["Width"]),
             int(info["Height"]), info.get("Window shape extents", "-"), title)
            for _, title, info in top_level_windows(session, shape=True)]


def frame_problems(windows, width, height, first, display):
    """What is wrong with the shown windows on a WIDTHxHEIGHT screen: a window beyond the screen, a screen
    display whose shape misses its text, at a FIRST start two windows that overlap, and windows missing."""
    found = []
    titles = [t for *_, t in windows]
    if not any(t.startswith("Sensors") for t in titles):
        found.append("no sensor window")
    if not any(t.startswith("Sensor Overview") for t in titles):
        found.append("no overview")
    screen = [w for w in windows if w[5] == "Kelvaro" and w[2] > 1]
    if display and not screen:
        found.append("no screen display")
    for x, y, w, h, _, title in windows:
        if x < 0 or y < 0 or x + w > width or y + h > height:
            found.append(f"'{title}' {w}x{h}+{x}+{y} runs past the {width}x{height} screen")
    for x, y, w, h, shape, _ in screen:
        m = re.fullmatch(r"(\d+)x(\d+)\+(-?\d+)\+(-?\d+)", shape)
        sw, sh, sx, sy = map(int, m.groups()) if m else (0, 0, 0, 0)
        # The text fills the window but for its margins: its shape spans most of it.
        if sw < 0.75 * w or sh < 0.75 * h or sx < 0 or sy < 0 or sx + sw > w or sy + sh > h:
            found.append(f"the screen display {w}x{h} has the shape {shape}: its values do not show")
    if first:
        for i, a in enumerate(windows):
            for b in windows[i + 1:]:
                if a[0] < b[0] + b[2] and b[0] < a[0] + a[2] and a[1] < b[1] + b[3] and b[1] < a[1] + a[3]:
                    found.append(f"'{a[5]}' {a[2]}x{a[3]}+{a[0]}+{a[1]} and '{b[5]}' {b[2]}x{b[3]}+{b[0]}+{b[1]} overlap")
    return found


@pytest.mark.parametrize("computer", ["portable", "server", "tower"])
def test_every_window_of_a_start_lies_within_its_screen(programs, session, computer):
    """A first start on 1600x1000 (no window over another), a start with the screen display showing every
    value, the same on a 1280x800 screen with the frames saved on the larger one, once more on 1600x1000 (the
    sensor window as wide as before), and a first start on 1280x800: each shown window's frame within the
    screen and the screen display's shape over its values."""
    need_tools("xwininfo", "trayer")
    simulated = programs.computer(computer)

    def check_start(size, name, first, display):
        width, height = (int(v) for v in size.split("x"))
        x_server = XServer(session, size, name=f"xvfb-{name}")
        tray = Trayer(session)
        kelvaro = session.start(name, programs.kelvaro, "--simulate", simulated)
        kelvaro.wait_ready("Kelvaro")
        seen = []

        def well():
            seen[:] = shown_frames(session)
            return not frame_problems(seen, width, height, first, display)
        try:
            wait_until(well, "windows within the screen", 60, interval=0.2)
        except WaitTimeout:
            pass
        screenshot(session, f"{computer}-{name}")
        found = frame_problems(seen, width, height, first, display)
        assert not found, f"{computer} {name} on {size}: {found}; shown: {seen}"
        kelvaro.quit_cleanly("Kelvaro")
        tray.stop()
        x_server.stop()
        return seen

    def sensor_width(windows):
        return next(w for _, _, w, _, _, t in windows if t.startswith("Sensors"))

    check_start("1600x1000", "first-1600x1000", True, False)
    # The screen display opens at the next start with every value of the computer.
    data = session.preferences_file.read_bytes()
    prefs = plistlib.loads(data)
    prefs["FloatingWindowOpen"] = True
    for machine in prefs["MachinePreferences"].values():
        machine["FloatingWindowSensors"] = list(machine["AvailableGauges"].keys())
    session.preferences_file.write_bytes(
        plistlib.dumps(prefs, fmt=plistlib.FMT_BINARY if data.startswith(b"bplist") else plistlib.FMT_XML))
    wide = sensor_width(check_start("1600x1000", "screen-display-1600x1000", False, True))
    check_start("1280x800", "screen-display-1280x800", False, True)
    # Back on the larger screen, the sensor window that the smaller one cut is as wide as before.
    again = sensor_width(check_start("1600x1000", "screen-display-1600x1000-again", False, True))
    assert again == wide, f"the sensor window came back {again} pixels wide on 1600x1000, not {wide}"
    session.preferences_file.unlink()
    check_start("1280x800", "first-1280x800", True, False)
