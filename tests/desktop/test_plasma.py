"""The programs on KDE Plasma of the test's own (KWin on its virtual screen with its XWayland, plasmashell's
panel and tray), "native" (Wayland clients) or "xwayland" (X11 clients of KWin's X server), as its user sees
them: KWin's stacking and the screen it paints."""

import pytest

from kelvaro_desktop.sni import click_menu_item, items, menu_labels
from kelvaro_desktop.waits import WaitTimeout, wait_until

MODES = ("native", "xwayland")


def display_on_the_desktop_at_next_start(session, programs):
    """The first run writes the portable's preferences; the next start opens the sensor window, the overview,
    the Sensor Alert panel (a sensor over its limit) and the screen display on the desktop with every value
    (red, as it is by default), wider and taller than the other windows."""
    first = session.start("first", programs.kelvaro, "--simulate", programs.computer("portable"))
    first.wait_ready("Kelvaro")
    first.quit_cleanly("the first run of Kelvaro")
    preferences = session.read_preferences()
    preferences.update(SensorWindowOpen=True, OverviewOpen=True, FloatingWindowOpen=True)
    for machine in preferences["MachinePreferences"].values():
        machine["ScreenWindowIsBackdrop"] = True
        machine["FloatingWindowSensors"] = list(machine["AvailableGauges"].keys())
    machine = next(m for m in preferences["MachinePreferences"].values() if m.get("AvailableGauges"))
    gauge_id, gauge = next((i, g) for i, g in machine["AvailableGauges"].items() if g.get("SensorEnabled", True))
    gauge.update(HighTriggerEnabled=True, HighThreshold=-1000.0)
    machine.update(Triggers=[gauge_id], AlertOpensPanel=True, AlertPlaySound=False, AlertUsesVoice=False,
                   AlertSendsGrowl=False)
    session.write_preferences(preferences)


def is_display(window):
    # Untitled natively, titled after the program on X11; the only window of the program this large.
    return window["caption"] in ("", "Kelvaro") and window["width"] >= 1000 and window["height"] >= 500


def red_pixels(pixels, window):
    """How many pixels within WINDOW's frame on the screen are the display's red."""
    width, height, rows = pixels
    count = 0
    for y in range(max(0, window["y"]), min(height, window["y"] + window["height"])):
        row = rows[y]
        for x in range(max(0, window["x"]), min(width, window["x"] + window["width"])):
            r, g, b = row[3 * x:3 * x + 3]
            if r > 170 and g < 70 and b < 70:
                count += 1
    return count


def display_problems(plasma, pid):
    """What is wrong with the screen display on the desktop as KWin stacks and paints it: empty when it lies
    below every other window of the program, covers none of them and shows where they leave the desktop."""
    windows = plasma.program_windows(pid)
    display = next((w for w in windows if is_display(w)), None)
    if display is None:
        return ["no screen display among KWin's windows"]
    found = []
    others = [w for w in windows if w is not display]
    # Top first: those after it lie under it.
    found += [f"KWin stacks {w['caption']!r} below the screen display" for w in windows[windows.index(display) + 1:]]
    pixels = plasma.screenshot_pixels()
    for w in others:
        # A pixel or two of red where a window has a red icon of its own; the display's text is thousands.
        if red_pixels(pixels, w) > w["width"] * w["height"] // 100:
            found.append(f"the screen display's text shows over {w['caption']!r}")
    # Where no window lies over it, its text shows.
    uncovered = any(not any(w["x"] <= x < w["x"] + w["width"] and w["y"] <= y < w["y"] + w["height"] for w in others)
                    for x in range(max(0, display["x"]), min(pixels[0], display["x"] + display["width"]), 40)
                    for y in range(max(0, display["y"]), min(pixels[1], display["y"] + display["height"]), 40))
    if uncovered and red_pixels(pixels, display) < 2000:
        found.append("the screen display is not painted where the windows leave the desktop")
    return found


def expect_display_below(plasma, pid, when, name):
    seen = []

    def below():
        seen[:] = display_problems(plasma, pid)
        return not seen
    try:
        wait_until(below, "the screen display below the windows", 30, interval=0.5)
    except WaitTimeout:
        pass
    plasma.screenshot(name)
    stack = [(w["caption"], w["x"], w["y"], w["width"], w["height"], "below" if w["keepBelow"] else "")
             for w in plasma.program_windows(pid)]
    assert not seen, f"{when}: {'; '.join(seen)}; KWin's stack, top first: {stack}"


def tray_menu(session, pid):
    item = wait_until(lambda: next((i for i in items(session, pid) if i.status == "Active"), None),
                      "Kelvaro's tray icon", 60)
    return item.owner, item.menu


@pytest.mark.parametrize("plasma", MODES, indirect=True)
def test_the_screen_display_on_the_desktop_lies_below_every_window(programs, session, plasma):
    """The screen display on the desktop with every value of the portable, under the sensor window, the
    overview and the Sensor Alert panel: KWin stacks it below all of them, its text covers none of them and
    shows where they leave the desktop; so again after the tray's Hide Screen Display and Show Screen
    Display."""
    mode = "native" if session.environment["QT_QPA_PLATFORM"] == "wayland" else "xwayland"
    display_on_the_desktop_at_next_start(session, programs)
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", programs.computer("portable"))
    kelvaro.wait_ready("Kelvaro")
    wait_until(lambda: {"Sensors", "Sensor Alert"} <= {w["caption"] for w in plasma.program_windows(kelvaro.pid)}
               and any(is_display(w) for w in plasma.program_windows(kelvaro.pid)),
               "the sensor window, the Sensor Alert panel and the screen display", 60)
    expect_display_below(plasma, kelvaro.pid, "at the start", f"plasma-{mode}-display-start")

    owner, menu = tray_menu(session, kelvaro.pid)
    click_menu_item(session, kelvaro.pid, "Hide Screen Display")
    wait_until(lambda: not any(is_display(w) for w in plasma.program_windows(kelvaro.pid)),
               "Hide Screen Display left the display on the screen", 30)
    wait_until(lambda: "Show Screen Display" in [t for _, t in menu_labels(session, owner, menu)],
               "the tray's menu did not offer Show Screen Display", 30)
    click_menu_item(session, kelvaro.pid, "Show Screen Display")
    wait_until(lambda: any(is_display(w) for w in plasma.program_windows(kelvaro.pid)),
               "Show Screen Display showed no display", 30)
    expect_display_below(plasma, kelvaro.pid, "after Hide and Show", f"plasma-{mode}-display-shown-again")
    kelvaro.quit_cleanly("Kelvaro")
