"""The Combine History Windows panel with no window manager: it closes as every panel does."""

import time

from kelvaro_desktop.waits import wait_until
from kelvaro_desktop.x11 import need_tools, shown_windows, xdotool

PANEL = "^Combine History Windows$"


def focused_on(session, window):
    return xdotool(session, "getwindowfocus") == [window]


def window_menu(session, kelvaro, sensors, *keys):
    """The sensor window's Window menu (the menu bar's first title, then Left wraps to the last one), from its
    first item on, then KEYS."""
    def focused():
        xdotool(session, "windowfocus", sensors)
        return focused_on(session, sensors)
    wait_until(focused, "the sensor window did not take the focus", 20)
    shown = len(shown_windows(session, "", kelvaro.pid))
    xdotool(session, "mousemove", "--window", sensors, 20, 8, "click", 1)
    wait_until(lambda: len(shown_windows(session, "", kelvaro.pid)) > shown, "no menu opened on a click on the menu bar", 20)
    for key in ("Left", "Home", *keys):
        # The menu takes each key in turn as a user's would give them.
        time.sleep(0.2)
        xdotool(session, "key", key)


def open_panel(session, kelvaro, sensors):
    """Window > Combine History Windows...: the panel opens and takes the keyboard by itself, as no window
    manager hands it out."""
    window_menu(session, kelvaro, sensors, *["Down"] * 6, "Return")
    panel = wait_until(lambda: shown_windows(session, PANEL, kelvaro.pid), "the Window menu opened no panel", 30)[0]
    wait_until(lambda: focused_on(session, panel), "the panel did not take the keyboard", 20)


def test_the_combine_panel_closes_on_escape_ctrl_w_and_with_the_last_history_window(programs, session, x_server):
    """Opened from the Window menu, the panel closes on Escape and on Ctrl+W; Window > Close History Windows
    takes it with the last history window, and the sensor window stays."""
    need_tools("xdotool")
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", programs.computer("portable"))
    kelvaro.wait_ready("Kelvaro")
    sensors = wait_until(lambda: shown_windows(session, "^Sensors$", kelvaro.pid), "no sensor window", 60)[0]
    xdotool(session, "windowfocus", sensors)
    wait_until(lambda: focused_on(session, sensors), "the sensor window did not take the focus", 20)
    xdotool(session, "key", "ctrl+h")
    wait_until(lambda: shown_windows(session, "^Temperature Sensors$", kelvaro.pid),
               "Ctrl+H opened no temperature history window", 60)

    for keys in ("Escape", "ctrl+w"):
        open_panel(session, kelvaro, sensors)
        xdotool(session, "key", keys)
        wait_until(lambda: not shown_windows(session, PANEL, kelvaro.pid), f"{keys} did not close the panel", 30)

    open_panel(session, kelvaro, sensors)
    window_menu(session, kelvaro, sensors, *["Down"] * 5, "Return")
    wait_until(lambda: not shown_windows(session, " Sensors$", kelvaro.pid),
               "Window > Close History Windows left a history window", 30)
    wait_until(lambda: not shown_windows(session, PANEL, kelvaro.pid),
               "the panel stayed open with no history window left", 30)
    assert shown_windows(session, "^Sensors$", kelvaro.pid), "the sensor window went with the history windows"
    kelvaro.quit_cleanly("Kelvaro")
