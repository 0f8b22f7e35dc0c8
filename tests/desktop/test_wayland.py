"""The programs in a Wayland session: weston (headless, desktop shell) of the test's own, "native" (Wayland
clients) or "xwayland" (X11 clients of weston's X server)."""

import os
import re
import stat
import subprocess

import pytest

from kelvaro_desktop.waits import WaitTimeout, wait_until
from kelvaro_desktop.wayland import Weston, lose_compositor
from kelvaro_desktop.x11 import need_tools, shown_windows, window_info, xdotool

MODES = ("native", "xwayland")


def start(session, programs, name, binary=None, computer="portable"):
    process = session.start(name, binary or programs.kelvaro, "--simulate", programs.computer(computer))
    process.wait_ready("KelvaroLite" if binary == programs.lite else "Kelvaro")
    return process


@pytest.mark.parametrize("mode", MODES)
def test_the_compositors_end_saves_the_session(programs, session, mode):
    """The compositor killed under Kelvaro (a logout): status 1, preferences and a history that decodes
    written, what was saved logged."""
    weston = Weston(session, mode)
    kelvaro = start(session, programs, "kelvaro")
    weston.screenshot(f"wayland-{mode}-lost")
    assert not session.preferences_file.exists(), "preferences were written before the end"
    lose_compositor(weston, kelvaro, "Kelvaro")
    assert session.preferences_file.stat().st_size > 0, "no preferences written after the compositor went away"
    assert session.history_file.exists() and session.history_file.stat().st_size > 0, \
        "no history file written after the compositor went away"
    assert subprocess.run([programs.dump, "history", session.history_file], capture_output=True,
                          env=session.environment).returncode == 0, "the history file does not decode"
    assert "ending without a quit" in kelvaro.log(), "Kelvaro did not say that the display went away"
    assert re.search(r"saved at the display's end: preferences written to .*; long-term histories written",
                     kelvaro.log()), "Kelvaro did not log what it saved"


@pytest.mark.parametrize("mode", MODES)
def test_the_compositors_end_under_lite(programs, session, mode):
    weston = Weston(session, mode)
    lite = start(session, programs, "lite", programs.lite)
    lose_compositor(weston, lite, "KelvaroLite")
    assert lite.has_logged("KelvaroLite: saved at the display's end"), "KelvaroLite did not log the end of its display"


PLACES = ("TEVWindowFrame-StandardWindow", "TEVSpecialAutosave-StandardWindow", "TEVWindowFrame-SensorOverview")


@pytest.mark.parametrize("mode", MODES)
def test_stored_places_survive_where_no_one_tells_them(programs, session, mode):
    """Where no client can tell where its window is (natively), or where the window manager does not tell it
    (weston's, for its X server: its frame's invisible margin counted, windows moved without a word), the
    stored places stay as they were however often the programs start: never the margin off, never "0 0"; no
    window opens past the output, and a stored size stays the user's."""
    weston = Weston(session, mode)
    # Views past the 1600x1000 output, but for weston's invisible 32-pixel margin around an X11 window's frame:
    # a window fitted to its text keeps within the output from where it opened, as on X11.
    margin = 32 if mode == "xwayland" else 0

    def past_output():
        return [f"{t}: {x1},{y1} -> {x2},{y2}" for t, (x1, y1, x2, y2) in weston.windows()
                if t.startswith(("Sensors", "Sensor Overview"))
                and (x1 + margin < 0 or y1 + margin < 0 or x2 - margin > 1600 or y2 - margin > 1000)]

    def start_and_quit(name):
        kelvaro = start(session, programs, "kelvaro")
        wait_until(lambda: "Sensors" in (titles := weston.stacked_titles()) and
                   any(t.startswith("Sensor Overview") for t in titles),
                   "the sensor window and the overview were not shown")
        try:
            wait_until(lambda: not past_output(), "windows within the output", 10, interval=0.2)
        except WaitTimeout:
            pass
        weston.screenshot(f"wayland-{mode}-positions-{name}")
        assert not past_output(), f"a window opened past the output at start {name}: {past_output()}"
        kelvaro.quit_cleanly("Kelvaro")

    def places():
        stored = session.read_preferences()
        return {key: stored.get(key, "-") for key in PLACES}

    # A first start: the windows placed by the program, or by the compositor.
    session.write_preferences({"PreferencesVersion": 3, "SensorWindowOpen": True, "OverviewOpen": True})
    start_and_quit("first")
    first = places()
    print("stored after the first start:", first)
    assert not [v for v in first.values() if re.search(r" 0 0( |$)", f" {v}")], f"a place was stored as 0 0: {first}"
    start_and_quit("again")
    assert places() == first, f"the stored places changed at the second start: {first} -> {places()}"
    # A place and size stored on X, say, put into what these starts wrote: the size stays the user's, not one
    # of a cut the program could not see here.
    stored = session.read_preferences()
    stored.update({"TEVWindowFrame-StandardWindow": "210 230 640 140", "TEVSpecialAutosave-StandardWindow": "210 230"})
    session.write_preferences(stored)
    start_and_quit("kept")
    frame = session.read_preferences().get("TEVWindowFrame-StandardWindow", "")
    assert frame.startswith("210 230 640 "), f"the sensor window's stored frame '210 230 640 140' became '{frame}'"
    # Places stored before, on X, say.
    session.write_preferences({"PreferencesVersion": 3, "SensorWindowOpen": True, "OverviewOpen": True,
                               "TEVWindowFrame-StandardWindow": "210 230 640 140",
                               "TEVSpecialAutosave-StandardWindow": "210 230",
                               "TEVWindowFrame-SensorOverview": "700 150 520 420"})
    for run in (1, 2):
        start_and_quit(f"stored-{run}")
        now = places()
        assert now["TEVSpecialAutosave-StandardWindow"] == "210 230", f"the sensor window's place became {now} at start {run}"
        assert now["TEVWindowFrame-StandardWindow"].startswith("210 230 "), f"the sensor window's frame became {now} at start {run}"
        assert now["TEVWindowFrame-SensorOverview"].startswith("700 150 "), f"the overview's frame became {now} at start {run}"


def x11_dialogs(session, pid, title):
    """The program's viewable X windows titled TITLE that are dialogs. Looked for by the program's windows
    alone: Qt names a dialog in _NET_WM_NAME only, which xdotool's search by name does not read."""
    found = []
    for window in xdotool(session, "search", "--all", "--onlyvisible", "--pid", pid):
        kind = subprocess.run(["xprop", "-id", window, "_NET_WM_WINDOW_TYPE"], capture_output=True, text=True,
                              env=session.environment).stdout
        if "_NET_WM_WINDOW_TYPE_DIALOG" in kind and " ".join(xdotool(session, "getwindowname", window)) == title:
            found.append(window)
    return found


def answer(session, window, gone):
    """Escape into WINDOW until GONE: weston's window manager may give the focus back to another window
    before the key, so it is pressed again then."""
    def attempt():
        xdotool(session, "windowfocus", window, "key", "Escape")
        try:
            return wait_until(gone, "the answer", 5, interval=0.2)
        except WaitTimeout:
            return False
    wait_until(attempt, "the alert was not answered")


@pytest.mark.parametrize("mode", MODES)
def test_the_start_up_alerts_lie_over_the_windows_one_after_the_other(programs, session, mode):
    """Top first: the alert (titled after the program; one at a time, the second waits for the answer to the
    first) over every other window. A window that maps is on top until the alert is shown anew over it, a turn
    or more later: a stack taken in between is looked at again; one that stays so is the fault."""
    weston = Weston(session, mode)
    # The alerts wait for an answer.
    session.environment.pop("KELVARO_NONINTERACTIVE", None)
    kelvaro = start(session, programs, "kelvaro", computer="vm")
    stack = []

    def on_top(titles):
        return "Kelvaro" not in titles[next((i for i, t in enumerate(titles) if t != "Kelvaro"), len(titles)):]

    def in_front(which):
        def look():
            stack[:] = weston.stacked_titles()
            return stack.count("Kelvaro") == 1 and "Sensors" in stack and \
                any(t.startswith("Sensor Overview") for t in stack) and on_top(stack)
        try:
            wait_until(look, f"the {which} alert in front", 60, interval=0.2)
        except WaitTimeout:
            pass
        weston.screenshot(f"wayland-{mode}-alerts-{which}")
        assert stack.count("Kelvaro") == 1, f"not one alert ({which}): {stack}"
        assert any(t.startswith("Sensor Overview") for t in stack), f"the overview was not shown: {stack}"
        assert on_top(stack), f"the {which} alert lies behind a window, from the top down: {stack}"

    in_front("first")
    if mode == "xwayland":
        # Answered (Escape), the second follows, in front as well.
        need_tools("xdotool")
        alert = next(iter(x11_dialogs(session, kelvaro.pid, "Kelvaro")), None)
        assert alert, "no X window of the first alert"
        answer(session, alert, lambda: window_info(session, alert).get("Map State") != "IsViewable")
        in_front("second")
    kelvaro.quit_cleanly("Kelvaro")


def test_with_xwayland_and_no_platform_chosen_the_windows_are_x11_windows(programs, session):
    weston = Weston(session, "xwayland")
    session.environment.pop("QT_QPA_PLATFORM", None)
    session.environment["XDG_SESSION_TYPE"] = "wayland"
    kelvaro = start(session, programs, "kelvaro")
    sensors = wait_until(lambda: [v for v in weston.views() if v[2] == "Sensors"], "the sensor window was not shown")
    # Weston names the role of its own clients' surfaces; its X server's have none.
    assert all(role == "(null)" for *_, role in sensors), f"the sensor window is no X11 window: {weston.views()}"
    kelvaro.quit_cleanly("Kelvaro")


@pytest.mark.parametrize("mode", MODES)
def test_a_second_start_hands_its_activation_token_over(programs, session, session_bus, mode):
    """A second start, with and without a session bus, hands the token the desktop gave it to the running
    copy, which activates with it, and ends with status 0."""
    Weston(session, mode)
    first = start(session, programs, "first")
    token = f"kelvaro-test-token-{os.getpid()}"
    for bus in ("bus", "nobus"):
        # The desktop gives each start its own token: Wayland's in XDG_ACTIVATION_TOKEN, X11's start-up id.
        given = {"XDG_ACTIVATION_TOKEN": f"{token}-{bus}"} if mode == "native" else \
            {"DESKTOP_STARTUP_ID": f"{token}-{bus}_TIME4242"}
        # Without a bus the request goes through the socket in the runtime folder.
        if bus == "nobus":
            given["DBUS_SESSION_BUS_ADDRESS"] = f"unix:path={session.folder}/no-bus"
        second = session.start(f"second-{bus}", programs.kelvaro, "--simulate", programs.computer("portable"),
                               environment=given)
        status = second.wait_ended(f"the second start ({bus}) did not end", 60)
        assert status == 0, f"the second start ({bus}) ended with status {status}"
        assert second.has_logged(f"Kelvaro: runs already (process {first.pid})"), \
            f"the second start ({bus}) did not hand over"
        first.wait_logged(f"Kelvaro: another start asked for the windows (activation token {token}-{bus}",
                          f"the running Kelvaro was not given the activation token of the start ({bus})", 30)
    assert session.copies_of("Kelvaro") == [first.pid], f"copies of Kelvaro: {session.copies_of('Kelvaro')}"
    first.quit_cleanly("the running Kelvaro")


def test_started_programs_get_the_sessions_environment(programs, session):
    """(XWayland, no platform chosen, started with an activation token) the programs Kelvaro starts (an
    alert's program, and xdg-open for an alert's document) get the session's environment, and no
    QT_QPA_PLATFORM nor the token of Kelvaro's own start."""
    Weston(session, "xwayland")
    env = session.environment
    env.pop("QT_QPA_PLATFORM", None)
    # What the desktop gave Kelvaro's own start, which Kelvaro uses.
    env.update(XDG_ACTIVATION_TOKEN="launcher-token-77", KELVARO_TEST_MARK="kept")
    # Each started program writes its environment into NAME.env of the session's folder.
    folder = session.folder
    (folder / "bin").mkdir()
    recorder = (f'#!/bin/sh\n{{ env; echo "ARGUMENTS=$*"; }} >"{folder}/$(basename "$0").env.new" && '
                f'mv "{folder}/$(basename "$0").env.new" "{folder}/$(basename "$0").env"\n')
    for path in (folder / "bin/xdg-open", folder / "on-alert"):
        path.write_text(recorder)
        path.chmod(path.stat().st_mode | stat.S_IXUSR)
    (folder / "alert-document.txt").write_text("a document\n")
    env["PATH"] = f"{folder}/bin:{env['PATH']}"
    start(session, programs, "gauges").quit_cleanly("Kelvaro")
    # A sensor over its limit opens the program, then the document (through the desktop's handler).
    for opened, started in (("on-alert", "on-alert"), ("alert-document.txt", "xdg-open")):
        stored = session.read_preferences()
        machine = next(m for m in stored["MachinePreferences"].values() if m.get("AvailableGauges"))
        gauge_id, gauge = next((i, g) for i, g in machine["AvailableGauges"].items() if g.get("SensorEnabled", True))
        gauge.update(HighTriggerEnabled=True, HighThreshold=-1000.0)
        machine.update(Triggers=[gauge_id], AlertOpensObject=True, AlertObjectPath=str(folder / opened),
                       AlertOpensPanel=False, AlertPlaySound=False, AlertUsesVoice=False, AlertSendsGrowl=False)
        session.write_preferences(stored)
        record = folder / f"{started}.env"
        if record.exists():
            record.unlink()
        kelvaro = start(session, programs, f"alert-{started}")
        wait_until(lambda: record.exists() and record.stat().st_size > 0, f"the alert did not start {started}")
        kelvaro.quit_cleanly("Kelvaro")
        lines = record.read_text().splitlines()
        assert "KELVARO_TEST_MARK=kept" in lines, f"{started} did not get the session's environment"
        leaked = [l for l in lines if l.startswith(("QT_QPA_PLATFORM=", "XDG_ACTIVATION_TOKEN=", "DESKTOP_STARTUP_ID="))]
        assert not leaked, f"{started} got the platform Kelvaro chose for itself or the token of its start: {leaked}"
    assert f"ARGUMENTS=file://{folder}/alert-document.txt" in (folder / "xdg-open.env").read_text().splitlines(), \
        "xdg-open was not given the document"


def test_the_screen_display_on_the_desktop_lies_under_the_question_and_a_later_window(programs, session):
    """(XWayland) The screen display meant to lie on the desktop, where nothing can be kept below the windows:
    the start-up question lies above it (or it is out of sight while the question waits), and so does a window
    opened after it."""
    weston = Weston(session, "xwayland")
    need_tools("xdotool")
    session.environment.pop("QT_QPA_PLATFORM", None)
    start(session, programs, "first").quit_cleanly("Kelvaro")
    session.open_at_next_start("SensorWindowOpen", "OverviewOpen", "FloatingWindowOpen")
    stored = session.read_preferences()
    for machine in stored["MachinePreferences"].values():
        machine["ScreenWindowIsBackdrop"] = True
    session.write_preferences(stored)
    # The colour question waits for an answer.
    session.environment.pop("KELVARO_NONINTERACTIVE")
    kelvaro = start(session, programs, "kelvaro")
    stack = []

    def line(is_it):
        return next((i for i, view in enumerate(stack) if is_it(*view)), None)

    def display():
        # The widest of the views titled after the program (the portable's values span over 1000 px), or
        # untitled.
        return line(lambda width, _, title, __: title in ("Kelvaro", "-") and width >= 1000)

    def question():
        return line(lambda width, _, title, __: title == "Kelvaro" and width < 1000)

    def question_over_display():
        stack[:] = weston.views()
        return question() is not None and (display() is None or question() < display())

    def shown():
        stack[:] = weston.views()
        return question() is not None and any(title.split()[-1:] == ["Sensors"] for _, _, title, _ in stack)
    wait_until(shown, "the colour question and the sensor window were not shown")
    # A window mapped after the question lies over it until the question is shown anew over it: a stack that
    # stays so is the fault.
    try:
        wait_until(question_over_display, "the question over the screen display", 10, interval=0.2)
    except WaitTimeout:
        pass
    weston.screenshot("wayland-xwayland-backdrop-question")
    print("while the question waits, from the top down:", stack)
    assert question_over_display(), f"the screen display lies over the colour question, from the top down: {stack}"
    # Answered (Escape), then a window opened (the preferences, Ctrl+,): it lies over the display.
    window = next(iter(x11_dialogs(session, kelvaro.pid, "Kelvaro")), None)
    assert window, "no X window of the question"
    # Gone when no view of its size is left: the splash, titled so too, may still be closing.
    size = stack[question()][:2]

    def question_gone():
        return not any(view[:2] == size and view[2] == "Kelvaro" for view in weston.views())
    answer(session, window, question_gone)

    def display_shown():
        stack[:] = weston.views()
        return display() is not None
    wait_until(display_shown, "the screen display did not come back once the question was answered")
    # Weston's window manager takes no activation requests and sets the X focus to the window it activated
    # itself: a key typed (XTEST) follows that focus, away from the sensor window. The focus set here makes the
    # sensor window the program's active one, whose shortcuts then take a key sent to the window itself.
    sensors = wait_until(lambda: shown_windows(session, "^Sensors$", kelvaro.pid), "no X window of the sensor window")

    def preferences():
        return line(lambda _, __, title, ___: title.startswith("Kelvaro Preferences"))

    def open_preferences():
        xdotool(session, "windowfocus", sensors[0], "key", "--window", sensors[0], "ctrl+comma")

        def shown():
            stack[:] = weston.views()
            return preferences() is not None
        try:
            return wait_until(shown, "the preferences", 5, interval=0.2)
        except WaitTimeout:
            return False
    wait_until(open_preferences, "no preference window opened")
    weston.screenshot("wayland-xwayland-backdrop-preferences")
    print("with the preferences open, from the top down:", stack)
    assert display() is not None, f"the screen display went: {stack}"
    assert preferences() < display(), f"the screen display lies over the window opened after it: {stack}"
    kelvaro.quit_cleanly("Kelvaro")
