"""The program's windows under GNOME Shell (headless, mutter's windows as it stacks them), natively
(QT_QPA_PLATFORM=wayland, Qt drawing the title bars) and on the Shell's XWayland."""

import pytest

from kelvaro_desktop.desktop import alert_panel_at_start
from kelvaro_desktop.gnome import GnomeShell
from kelvaro_desktop.waits import WaitTimeout, wait_until
from kelvaro_desktop.wayland import run_natively

FRAME = "TEVWindowFrame-StandardWindow"
# The sensor window's head: its title bar and the menu bar below it.
HEAD = 60


def start(session, programs, name, computer="portable", environment=None):
    process = session.start(name, programs.kelvaro, "--simulate", programs.computer(computer), environment=environment)
    process.wait_ready("Kelvaro")
    return process


def mine(shell, process):
    return [w for w in shell.windows() if w["pid"] == process.pid and w["shown"]]


def window_titled(windows, prefix):
    return next((w for w in windows if w["title"].startswith(prefix)), None)


def covering(windows, window, strip):
    """The windows above WINDOW in the stack (WINDOWS top first) that cover some of its top STRIP pixels."""
    above = windows[:windows.index(window)]
    x1, y1, x2, y2 = window["x"], window["y"], window["x"] + window["width"], window["y"] + min(strip, window["height"])
    return [w["title"] for w in above if w["x"] < x2 and x1 < w["x"] + w["width"] and w["y"] < y2 and y1 < w["y"] + w["height"]]


def settled(look, what, timeout=30):
    """LOOK's answer once it holds (mutter places and stacks a window a moment after it maps: a look taken in
    between is taken again); its last answer where it never does, for the test to say what it saw."""
    seen = []

    def holds():
        seen[:] = [look()]
        return seen[0][0]
    try:
        wait_until(holds, what, timeout, interval=0.3)
    except WaitTimeout:
        pass
    return seen[0]


def test_natively_the_title_bar_is_drawn_on_top_of_the_sensor_windows_contents(programs, session, session_bus):
    """A sensor window sized on the Shell's XWayland, started natively: Qt's own title bar comes on top of its
    contents (the names below the values show), no window of the program covers its head, and the quit stores
    no size cut by the title bar, neither for the next native start nor for the next start on XWayland."""
    shell = GnomeShell(session, session_bus, "xwayland")
    session.write_preferences({"PreferencesVersion": 3, "SensorWindowOpen": True, "OverviewOpen": True})
    start(session, programs, "xwayland").quit_cleanly("Kelvaro on XWayland")
    stored = session.read_preferences()[FRAME]
    width, height = (int(n) for n in stored.split()[2:])
    run_natively(session)
    for run in (1, 2):
        kelvaro = start(session, programs, f"native-{run}")

        def look():
            windows = mine(shell, kelvaro)
            sensors = window_titled(windows, "Sensors")
            overview = window_titled(windows, "Sensor Overview")
            if not sensors or not overview:
                return False, windows, []
            hidden = covering(windows, sensors, HEAD)
            # The frame holds Qt's title bar (more than 20 pixels) above the whole of the stored contents.
            return sensors["height"] >= height + 20 and not hidden, windows, hidden
        ok, windows, hidden = settled(look, "the sensor window whole and clear")
        shell.screenshot(f"gnome-native-sensor-window-{run}")
        sensors = window_titled(windows, "Sensors")
        assert sensors, f"no sensor window shown: {windows}"
        assert sensors["height"] >= height + 20, \
            f"the sensor window's frame is {sensors['height']} pixels tall for contents of {height} stored: " \
            f"its title bar came off them ({windows})"
        assert not hidden, f"the sensor window's head lies under {hidden} ({windows})"
        kelvaro.quit_cleanly("Kelvaro")
        now = session.read_preferences()[FRAME]
        kept_width, kept_height = (int(n) for n in now.split()[2:])
        assert kept_height >= height and kept_width >= min(width, 1600 - 20), \
            f"the stored frame '{stored}' became '{now}' at native start {run}"


def alert_problems(windows, title):
    """What is wrong with the alert TITLE among the program's WINDOWS (top first): shown, given to the sensor
    window, over every other window of the program."""
    alerts = [w for w in windows if w["title"] == title]
    if len(alerts) != 1:
        return [f"{len(alerts)} windows titled {title!r}"]
    alert = alerts[0]
    problems = []
    if alert["transient_for"] != "Sensors":
        problems.append(f"it is given to {alert['transient_for']!r}, not to the sensor window")
    if windows.index(alert) != 0:
        problems.append(f"it lies under {[w['title'] for w in windows[:windows.index(alert)]]}")
    return problems


def expect_alert(shell, process, title, name):
    """The alert TITLE of PROCESS shown, given to the sensor window, over the program's windows (both the
    sensor window and the overview shown): its window."""
    def look():
        windows = mine(shell, process)
        shown = window_titled(windows, "Sensors") and window_titled(windows, "Sensor Overview")
        problems = alert_problems(windows, title)
        return bool(shown) and not problems, windows, problems
    ok, windows, problems = settled(look, f"the {title} alert in front")
    shell.screenshot(name)
    assert window_titled(windows, "Sensors") and window_titled(windows, "Sensor Overview"), \
        f"the sensor window and the overview were not shown: {windows}"
    assert not problems, f"the {title!r} alert: {problems} (from the top: {windows})"
    return next(w for w in windows if w["title"] == title)


def test_natively_the_sensor_alert_panel_belongs_to_the_sensor_window(programs, session, session_bus):
    """A gauge over its limit from the start: its Sensor Alert panel is the sensor window's and lies over the
    program's windows, its title and Close button in sight."""
    shell = GnomeShell(session, session_bus, "native")
    alert_panel_at_start(session, programs)
    kelvaro = start(session, programs, "alerting")
    expect_alert(shell, kelvaro, "Sensor Alert", "gnome-native-sensor-alert")
    kelvaro.quit_cleanly("Kelvaro")


def test_natively_the_start_up_alerts_belong_to_the_sensor_window(programs, session, session_bus):
    """A first start on a computer without sensors asks twice, one alert after the other: each is the sensor
    window's (not the invisible screen display's), over the program's windows."""
    shell = GnomeShell(session, session_bus, "native")
    session.environment.pop("KELVARO_NONINTERACTIVE", None)
    kelvaro = start(session, programs, "first-start", computer="vm")
    first = expect_alert(shell, kelvaro, "Kelvaro", "gnome-native-start-up-alert-1")
    # Answered with Escape, the second comes.
    def answer():
        shell.press_key(kelvaro.pid, "Kelvaro", "Escape")
        try:
            return wait_until(lambda: not any(w["id"] == first["id"] for w in mine(shell, kelvaro)), "the answer", 5)
        except WaitTimeout:
            return False
    wait_until(answer, "the first alert was not answered")
    expect_alert(shell, kelvaro, "Kelvaro", "gnome-native-start-up-alert-2")
    kelvaro.quit_cleanly("Kelvaro")


LAUNCH_TOKEN_JS = """
(() => {
    const Gio = imports.gi.Gio;
    const info = Gio.AppInfo.create_from_commandline('Kelvaro', 'Kelvaro', Gio.AppInfoCreateFlags.SUPPORTS_STARTUP_NOTIFICATION);
    return global.create_app_launch_context(global.display.get_current_time_roundtrip(), -1).get_startup_notify_id(info, []);
})()
"""


@pytest.mark.parametrize("mode", ("native", "xwayland"))
def test_a_second_start_brings_back_the_minimized_windows(programs, session, session_bus, mode):
    """The sensor window and the overview minimized, the program started again as the Shell's launcher starts
    it (with its start-up token): both windows come back, shown and not minimized."""
    shell = GnomeShell(session, session_bus, mode)
    shell.plug_keyboard()
    session.write_preferences({"PreferencesVersion": 3, "SensorWindowOpen": True, "OverviewOpen": True})
    kelvaro = start(session, programs, "first")
    wait_until(lambda: (lambda w: window_titled(w, "Sensors") and window_titled(w, "Sensor Overview"))(
        mine(shell, kelvaro)), "the sensor window and the overview were not shown", 60)
    # Minimized again while the start is still showing its windows (a start-up question answered late on a busy
    # machine brings them forward once more), as a user would.
    def minimized():
        shell.eval("global.get_window_actors().map(a => a.meta_window).filter(w => w.get_pid() === %d)"
                   ".forEach(w => w.minimize()); true" % kelvaro.pid)
        return not mine(shell, kelvaro)
    try:
        wait_until(minimized, "", 60, interval=1)
    except WaitTimeout:
        raise WaitTimeout(f"windows left after the minimize: {mine(shell, kelvaro)}") from None
    token = shell.eval(LAUNCH_TOKEN_JS)
    assert token, "the Shell gave no start-up token"
    given = {"XDG_ACTIVATION_TOKEN": token} if mode == "native" else {"DESKTOP_STARTUP_ID": token}
    second = session.start("second", programs.kelvaro, "--simulate", programs.computer("portable"),
                           environment=given)
    assert second.wait_ended("the second start did not end", 60) == 0, "the second start failed"

    def back():
        windows = mine(shell, kelvaro)
        return bool(window_titled(windows, "Sensors") and window_titled(windows, "Sensor Overview")), windows, []
    ok, windows, _ = settled(back, "the windows back")
    shell.screenshot(f"gnome-{mode}-second-start")
    everything = [(w["title"], "minimized" if w["minimized"] else "shown") for w in shell.windows()
                  if w["pid"] == kelvaro.pid]
    assert ok, f"after the second start: {everything}"
    kelvaro.quit_cleanly("Kelvaro")
