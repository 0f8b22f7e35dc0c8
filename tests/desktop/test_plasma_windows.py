"""The program's windows under KDE Plasma (KWin's virtual screen, its windows as KWin stacks them), on its
XWayland and natively."""

import pytest

from kelvaro_desktop.desktop import alert_panel_at_start
from kelvaro_desktop.plasma import Plasma
from kelvaro_desktop.waits import WaitTimeout, wait_until

MODES = ("xwayland", "native")
OVERVIEW = "TEVWindowFrame-SensorOverview"


def start(session, programs, name, computer="portable"):
    process = session.start(name, programs.kelvaro, "--simulate", programs.computer(computer))
    process.wait_ready("Kelvaro")
    return process


def titled(windows, prefix):
    return next((w for w in windows if w["caption"].startswith(prefix)), None)


@pytest.mark.parametrize("mode", MODES)
def test_the_sensor_alert_panel_of_the_start_lies_over_the_windows(programs, session, session_bus, mode):
    """A gauge over its limit from the start: its Sensor Alert panel, opened before the sensor window and the
    overview map, lies over both, its title and message in sight, and belongs to the sensor window."""
    plasma = Plasma(session, session_bus, mode, shell=False)
    alert_panel_at_start(session, programs)
    kelvaro = start(session, programs, "alerting")
    seen = []

    def in_front():
        seen[:] = plasma.program_windows(kelvaro.pid) if mode == "xwayland" else \
            [w for w in plasma.windows() if w["resourceClass"].lower() == "kelvaro" or w["pid"] == kelvaro.pid]
        panel = titled(seen, "Sensor Alert")
        return panel and titled(seen, "Sensors") and titled(seen, "Sensor Overview") and seen.index(panel) == 0
    try:
        wait_until(in_front, "the Sensor Alert panel over the windows", 60, interval=0.3)
    except WaitTimeout:
        pass
    plasma.screenshot(f"plasma-{mode}-sensor-alert")
    stack = [w["caption"] for w in seen]
    panel = titled(seen, "Sensor Alert")
    assert panel, f"no Sensor Alert panel shown: {stack}"
    assert titled(seen, "Sensors") and titled(seen, "Sensor Overview"), f"the windows were not shown: {stack}"
    assert seen.index(panel) == 0, f"the Sensor Alert panel lies under {stack[:seen.index(panel)]} (top first: {stack})"
    assert panel["transientFor"] == "Sensors", f"the Sensor Alert panel belongs to {panel['transientFor']!r}"
    kelvaro.quit_cleanly("Kelvaro")


def test_the_overview_opens_where_it_was_at_every_start(programs, session, session_bus):
    """(XWayland, where the program places its windows) the overview opens where the last quit left it, at
    the second start as at the third, and its stored place stays: its frame's corner, not its contents'."""
    plasma = Plasma(session, session_bus, "xwayland", shell=False)
    session.write_preferences({"PreferencesVersion": 3, "SensorWindowOpen": True, "OverviewOpen": True})
    places = []
    for run in (1, 2, 3):
        kelvaro = start(session, programs, f"start-{run}")
        shown = wait_until(lambda: titled(plasma.program_windows(kelvaro.pid), "Sensor Overview"),
                           "the overview was not shown", 60)
        # KWin may move a window it maps once more as it frames it: the place it settles at.
        try:
            wait_until(lambda: (lambda w: w if places and w and (w["x"], w["y"]) == places[-1] else None)(
                titled(plasma.program_windows(kelvaro.pid), "Sensor Overview")), "", 5, interval=0.3)
        except WaitTimeout:
            pass
        shown = titled(plasma.program_windows(kelvaro.pid), "Sensor Overview") or shown
        places.append((shown["x"], shown["y"]))
        plasma.screenshot(f"plasma-overview-start-{run}")
        kelvaro.quit_cleanly("Kelvaro")
        stored = session.read_preferences().get(OVERVIEW, "")
        print(f"start {run}: the overview's frame at {places[-1]}, stored '{stored}'")
        assert stored.split()[:2] == [str(places[-1][0]), str(places[-1][1])], \
            f"the overview's frame lay at {places[-1]} at start {run}, its stored place is '{stored}'"
    assert places[1] == places[0] and places[2] == places[0], f"the overview moved from start to start: {places}"
