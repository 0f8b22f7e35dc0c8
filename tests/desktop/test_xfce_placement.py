"""Where Kelvaro's windows open in an XFCE session (xfce4-session, xfwm4 compositing, xfce4-panel) on a virtual
X server with a session bus of its own, read from xfwm4's frames. Wherever a window opens, no title bar lies
within another window's frame, nothing lies over the sensor window's menu bar, and every title bar is within
the work area (a lower edge may leave it)."""

import pytest

from kelvaro_desktop.desktop import XfceSession, check_frames, window_menu_item
from kelvaro_desktop.waits import wait_until
from kelvaro_desktop.x11 import XServer, need_tools

SIZES = {"menu": "1600x1000", "next": "1280x800", "stored": "1600x1000"}


@pytest.mark.parametrize("scenario", ["menu", "next", "stored"])
def test_no_title_bar_lies_within_another_frame_under_xfwm4(programs, session, session_bus, scenario):
    """menu: a first start on 1600x1000 (the sensor window as wide as the screen), then Window > System
    Information and Window > Extreme Values. next: a next start on 1280x800 with five windows open (the screen
    display among them), three without a place of their own. stored: a first start on 1600x1000 with four
    windows stored open."""
    need_tools("dbus-update-activation-environment")
    computer = programs.computer("portable")
    XServer(session, SIZES[scenario])
    session_bus.share_folders(session)
    xfce = XfceSession(session)
    xfce.login("login")
    in_session = {"SESSION_MANAGER": xfce.session_manager()}

    def start(name):
        kelvaro = session.start(name, programs.kelvaro, "--simulate", computer, environment=in_session)
        kelvaro.wait_ready("Kelvaro")
        return kelvaro

    if scenario == "menu":
        kelvaro = start("first")
        windows = check_frames(session, 2, "heads", "xfce-placement-menu-start")
        sensors = next(w.id for w in windows if w.title == "Sensors")
        # From the bottom of the Window menu: Connect to Remote Computer..., Connections, Displays, Batteries,
        # Drives, System Information.
        wait_until(lambda: window_menu_item(session, kelvaro.pid, sensors, 6),
                   "Window > System Information was not chosen", 60)
        check_frames(session, 3, "heads", "xfce-placement-menu-system-information")
        # Extreme Values, above Open History Windows, Close History Windows, Combine History Windows..., Overview
        # and the six above.
        wait_until(lambda: window_menu_item(session, kelvaro.pid, sensors, 11),
                   "Window > Extreme Values was not chosen", 60)
        check_frames(session, 4, "heads", "xfce-placement-menu-extreme-values")
    elif scenario == "next":
        kelvaro = start("first")
        check_frames(session, 2, "apart", "xfce-placement-next-first")
        kelvaro.quit_cleanly("Kelvaro")
        session.open_at_next_start("SensorWindowOpen", "FloatingWindowOpen", "OverviewOpen", "SystemInfoOpen",
                                   "ExtremeValuesWindowOpen")
        kelvaro = start("next")
        check_frames(session, 4, "heads", "xfce-placement-next")
    else:
        session.write_preferences({"PreferencesVersion": 3, "SensorWindowOpen": True, "OverviewOpen": True,
                                   "SystemInfoOpen": True, "ExtremeValuesWindowOpen": True})
        kelvaro = start("stored")
        check_frames(session, 4, "heads", "xfce-placement-stored")
    kelvaro.quit_cleanly("Kelvaro")
