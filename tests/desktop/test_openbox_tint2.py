"""Kelvaro under openbox with tint2's task bar, on a virtual X server with a session bus of its own."""

import shutil

from kelvaro_desktop.desktop import (OpenboxTint2, check_alerts_one_after_the_other, check_frames,
                                     check_screen_display, focus_on, program_windows, wait_titles)
from kelvaro_desktop.session import WINDOW_KEYS
from kelvaro_desktop.waits import wait_until
from kelvaro_desktop.x11 import XServer, need_tools, xdotool


def test_framed_windows_the_screen_display_and_the_alerts_under_openbox(programs, session, session_bus):
    """A first start places the sensor window and the overview with openbox's frames counted: each frame within
    the work area tint2 leaves, apart. The screen display (Ctrl+D) stays out of tint2's task bar, takes no
    keyboard focus and lets clicks in its gaps through. The next start opens the system information and the
    extreme values without a recorded place: every title bar within the work area and clear of the other
    frames, the extreme values at their own size. With every window closed (Ctrl+W), a second start shows the
    sensor window. The two start-up alerts of a computer without sensors come one after the other."""
    need_tools("xev", "dbus-update-activation-environment")
    computer = programs.computer("portable")
    XServer(session, "1280x800")
    session_bus.share_folders(session)
    OpenboxTint2(session)

    kelvaro = session.start("first", programs.kelvaro, "--simulate", computer)
    kelvaro.wait_ready("Kelvaro")
    windows = check_frames(session, 2, "apart", "openbox-first-start")
    sensors = next(w.id for w in windows if w.title.startswith("Sensors"))
    check_screen_display(session, sensors, "openbox-screen-display")
    kelvaro.quit_cleanly("Kelvaro")

    # The system information and the extreme values have no place of their own yet.
    preferences = session.read_preferences()
    keys = [k for k in WINDOW_KEYS if preferences.get(k)]
    session.open_at_next_start(*keys, "SystemInfoOpen", "ExtremeValuesWindowOpen")
    kelvaro = session.start("second", programs.kelvaro, "--simulate", computer)
    kelvaro.wait_ready("Kelvaro")
    windows = check_frames(session, 4, "heads", "openbox-second-start")
    extreme = [f"{w.width}x{w.height}" for w in windows if w.title.startswith("Extreme Values")]
    assert extreme == ["420x360"], f"the extreme values opened at {extreme}, not at their own 420x360"

    # Without a session manager: one window at a time, each once active, as the keys go to the focus.
    def closed_one():
        left = program_windows(session)
        if not left:
            return True
        if focus_on(session, left[0].id):
            xdotool(session, "key", "ctrl+w")
        return False
    wait_until(closed_one, "Ctrl+W did not close the windows", 60, interval=0.2)
    again = session.start("again", programs.kelvaro, "--simulate", computer)
    status = again.wait_ended("the second start did not end", 60)
    assert status == 0, f"the second start ended with status {status}"
    titles = wait_titles(session, 1, "the second start showed no sensor window", 30)
    assert titles == ["Sensors"], f"the second start showed {titles}"
    kelvaro.quit_cleanly("Kelvaro")

    # A first start on a computer without sensors asks twice: one question after the other.
    shutil.rmtree(session.preferences_file.parent)
    check_alerts_one_after_the_other(session, programs, programs.computer("vm"), "openbox-alerts")
