"""Kelvaro on sway (headless), a tiling compositor, natively and on its X server: what must float over the
tiles floats, what becomes a tile keeps the sizes the user stored."""

import plistlib
import re
import shutil
import tempfile
from pathlib import Path

import pytest

from kelvaro_desktop.sway import Sway
from kelvaro_desktop.waits import wait_until

MODES = ("native", "xwayland")
# The portable's values span the screen display over this width; the question is narrower.
DISPLAY_WIDTH = 1000


@pytest.fixture
def sway(request, session):
    folder = Path(tempfile.mkdtemp(prefix="kelvaro-sway-"))

    def remove():
        # The programs first: they run in the folders removed here.
        session.end()
        shutil.rmtree(folder, ignore_errors=True)
    request.addfinalizer(remove)
    return Sway(session, request.param, folder)


def start(session, sway, programs, name, computer, interactive=False):
    """Kelvaro as the user; with INTERACTIVE its alerts and questions wait for an answer."""
    env = session.environment
    kept = env.pop("KELVARO_NONINTERACTIVE") if interactive else None
    try:
        kelvaro = sway.start(name, programs.kelvaro, "--simulate", programs.computer(computer))
    finally:
        if kept is not None:
            env["KELVARO_NONINTERACTIVE"] = kept
    kelvaro.wait_ready("Kelvaro")
    return kelvaro


def expect_all_float(sway, what):
    """Every window but the sensor window floats."""
    titles = sway.titles()
    tiles = [t for t in titles if not t.startswith("floating ") and t != "tiled Sensors"]
    assert not tiles, f"{what} became a tile, the windows: {titles}"


def alerts(sway):
    """The start-up alerts: (id, width, height) each. They are titled after the program, as the screen display
    is, which keeps the 100 px square of a display without a text here."""
    return [(i, r["width"], r["height"]) for i, title, _, _, r in sway.windows()
            if title == "Kelvaro" and r["width"] > 100]


def settled_alerts(sway, seen, more=lambda shown: True):
    """Whether alerts are shown, as at the look before: an alert is shown anew over a window mapped after it,
    and is out of the tree meanwhile. SEEN keeps the looks."""
    seen.append(alerts(sway))
    return len(seen) > 1 and seen[-1] and seen[-1] == seen[-2] and more(seen[-1])


def red_on_screen(sway):
    """How many pixels of the output are the screen display's red, in grim's picture of it."""
    shot = sway.folder / "red.ppm"
    if sway.run("grim", "-t", "ppm", shot).returncode != 0:
        return 0
    data = shot.read_bytes()
    header = re.match(rb"P6\s+\d+\s+\d+\s+255\s", data)
    pixels = data[header.end():] if header else b""
    return sum(1 for i in range(0, len(pixels) - 2, 3)
               if pixels[i] > 170 and pixels[i + 1] < 70 and pixels[i + 2] < 70)


def floating_kelvaro(sway):
    """The floating windows titled after the program, from the top down: (id, width) each."""
    return [(i, rect["width"]) for i, title, floating, rect, _ in reversed(sway.windows())
            if floating and title == "Kelvaro"]


def edit_preferences(session, sway, change):
    """CHANGE applied to the stored preferences, kept in the format they were stored in."""
    data = session.preferences_file.read_bytes()
    preferences = plistlib.loads(data)
    change(preferences)
    session.preferences_file.write_bytes(plistlib.dumps(
        preferences, fmt=plistlib.FMT_BINARY if data.startswith(b"bplist") else plistlib.FMT_XML))
    sway.give_to_user()


@pytest.mark.parametrize("sway", MODES, indirect=True)
def test_what_must_float_floats_and_tiles_keep_the_stored_sizes(programs, session, sway):
    """The start-up alerts of a computer without sensors (one after the other), its empty screen display, the
    "Sensor Alert" panel of a sensor over its limit and the tray's menu that swaybar (a tray host without menus
    of its own) asks for with ContextMenu float over the tiles instead of becoming tiles; the colour question
    lies over the screen display on the desktop, also after a press where the display lies; the sensor window
    and the overview become tiles, whose sizes are not stored as theirs."""
    mode = sway.mode

    # A computer without sensors: two alerts at the start, and the screen display has nothing to show.
    session.write_preferences({"PreferencesVersion": 3, "SensorWindowOpen": True, "FloatingWindowOpen": True})
    sway.give_to_user()
    kelvaro = start(session, sway, programs, "alerts", "vm", interactive=True)
    # An alert and the screen display, both titled after the program, and the sensor window.
    seen = []
    wait_until(lambda: (t := sway.titles()) and sum(x.endswith(" Kelvaro") for x in t) >= 2 and
               any(x.endswith(" Sensors") for x in t) and settled_alerts(sway, seen),
               "an alert and the screen display were not shown", interval=0.2)
    sway.screenshot("alerts")
    expect_all_float(sway, "an alert or the empty screen display")
    # The two alerts one after the other: sway floats each at the centre, where the second would hide the
    # first. Closed (as its close button does), the first is answered and the second shows.
    shown = seen[-1]
    assert len(shown) == 1, f"not one alert at a time, but: {shown}"
    first = shown[0][0]
    sway.swaymsg(f"[con_id={first}] kill")
    seen = []
    wait_until(lambda: settled_alerts(sway, seen, lambda shown: all(i != first for i, _, _ in shown)),
               "the second alert did not follow the first", interval=0.2)
    shown = seen[-1]
    sway.screenshot("second-alert")
    assert len(shown) == 1, f"not one alert at a time, but: {shown}"
    expect_all_float(sway, "the second alert")
    kelvaro.quit_cleanly("Kelvaro")

    # A sensor over the limit it has an alert for, once the program has written its gauges.
    start(session, sway, programs, "gauges", "portable").quit_cleanly("Kelvaro")

    def over_the_limit(preferences):
        machine = next(m for m in preferences["MachinePreferences"].values() if m.get("AvailableGauges"))
        gauge_id, gauge = next((i, g) for i, g in machine["AvailableGauges"].items() if g.get("SensorEnabled", True))
        gauge.update(HighTriggerEnabled=True, HighThreshold=-1000.0)
        machine.update(Triggers=[gauge_id], AlertOpensPanel=True, AlertPlaySound=False, AlertUsesVoice=False,
                       AlertSendsGrowl=False)
        preferences["MenuBarValueMode"] = 1
    edit_preferences(session, sway, over_the_limit)
    kelvaro = start(session, sway, programs, "panel", "portable")
    wait_until(lambda: (t := sway.titles()) and any(x.endswith(" Sensor Alert") for x in t) and
               any(x.endswith(" Kelvaro") for x in t),
               "the Sensor Alert panel and the screen display were not shown")
    sway.screenshot("panel")
    expect_all_float(sway, "the Sensor Alert panel or the screen display")

    # Swaybar has no menus of its own: either button calls ContextMenu with the place of the click, as here (a
    # headless sway has no pointer to click with). Natively the menu is a window of its own, in sway's tree; on
    # XWayland a popup, a visible X window of the program's that sway leaves out of its tree.
    item = wait_until(sway.tray_items, "no tray icon was registered with swaybar")[0]

    def shown_now():
        if mode == "native":
            return sum(t.endswith(" Kelvaro") for t in sway.titles())
        return len(sway.run("xdotool", "search", "--onlyvisible", "--pid", kelvaro.pid).stdout.split())
    before = shown_now()
    sway.context_menu(item, 1585, 10)
    wait_until(lambda: shown_now() > before, "the tray's menu was not shown",
               abort=lambda: None if kelvaro.running() else "Kelvaro ended")
    sway.screenshot("menu")
    expect_all_float(sway, "the tray's menu")
    kelvaro.quit_cleanly("Kelvaro")

    # The screen display on the desktop, which sway keeps below the windows only natively (in its layer shell's
    # desktop layer): the colour question of a start lies over it, also after a press where the display lies
    # (sway raises a floating window that takes it).
    shutil.rmtree(session.preferences_file.parent)
    start(session, sway, programs, "first", "portable").quit_cleanly("Kelvaro")

    def on_the_desktop(preferences):
        preferences.update(SensorWindowOpen=True, FloatingWindowOpen=True, OverviewOpen=False)
        for machine in preferences["MachinePreferences"].values():
            machine["ScreenWindowIsBackdrop"] = True
    edit_preferences(session, sway, on_the_desktop)
    kelvaro = start(session, sway, programs, "backdrop", "portable", interactive=True)
    floating = []

    def question_on_top():
        floating[:] = floating_kelvaro(sway)
        return bool(floating) and floating[0][1] < DISPLAY_WIDTH
    wait_until(lambda: question_on_top() and "tiled Sensors" in sway.titles(),
               "the colour question was not shown over the screen display")
    # A press where the display lies, outside the question (a headless sway moves its own pointer).
    for command in ("cursor set 100 100", "cursor press button1", "cursor release button1"):
        sway.swaymsg(f"seat seat0 {command}")
    sway.screenshot("backdrop-press")
    assert question_on_top(), f"a press raised the screen display over the question, from the top down: {floating}"
    sway.swaymsg(f"[con_id={floating[0][0]}] kill")
    if sway.mode == "native":
        # Natively sway offers the layer shell: the display lies in the desktop's layer, none of its windows,
        # and its red text shows.
        wait_until(lambda: not floating_kelvaro(sway) and red_on_screen(sway) > 2000,
                   "the screen display did not show in the desktop's layer once the question was answered")
    else:
        wait_until(lambda: (f := floating_kelvaro(sway)) and f[0][1] >= DISPLAY_WIDTH,
                   "the screen display did not come back once the question was answered")
    sway.screenshot("backdrop-answered")
    kelvaro.quit_cleanly("Kelvaro")

    # The sensor window and the overview become tiles: the sizes sway gives them are not stored as the user's.
    session.write_preferences({"PreferencesVersion": 3, "SensorWindowOpen": True, "OverviewOpen": True,
                               "TEVWindowFrame-StandardWindow": "210 230 640 140",
                               "TEVSpecialAutosave-StandardWindow": "210 230",
                               "TEVWindowFrame-SensorOverview": "700 150 520 420"})
    sway.give_to_user()
    kelvaro = start(session, sway, programs, "tiles", "portable")
    wait_until(lambda: (t := sway.titles()) and "tiled Sensors" in t and
               any(x.startswith("tiled Sensor Overview") for x in t),
               "the sensor window and the overview did not become tiles")
    tiles = []

    def tile_sizes():
        # Until sway has given both their tiles' sizes.
        tiles[:] = [(title.split(" - ")[0], r["width"], r["height"]) for _, title, _, _, r in sway.windows()
                    if title == "Sensors" or title.startswith("Sensor Overview")]
        return len(tiles) >= 2 and not any((w, h) == (520, 420) for _, w, h in tiles)
    wait_until(tile_sizes, "sway did not size the tiles")
    sway.screenshot("tiles")
    kelvaro.quit_cleanly("Kelvaro")
    stored = session.read_preferences()
    frames = (stored.get("TEVWindowFrame-StandardWindow"), stored.get("TEVWindowFrame-SensorOverview"))
    print(f"tiles: {tiles} stored: {frames}")
    assert str(frames[0]).startswith("210 230 640 ") and frames[1] == "700 150 520 420", \
        f"the tiles' sizes were stored: {frames}"
