"""The two programs' menu commands that start the other program and quit: "Launch Kelvaro Lite" in Kelvaro's
sensor overview, "Launch Kelvaro and Quit Lite Version" in Lite's tray menu."""

import subprocess

from .session import pid_ended
from .waits import WaitTimeout, wait_until
from .x11 import geometry, open_menu, xdotool


def lite_icon(session, pid):
    """Lite's tray icon: of its windows the small one on screen, as its tooltip (and an alert) are Lite's
    windows too and may come first."""
    for window in xdotool(session, "search", "--onlyvisible", "--pid", pid, "--class", "KelvaroLite"):
        _, _, w, h = geometry(session, window)
        if 0 < w <= 64 and h <= 64:
            return window
    return None


def launch_from_menu(session, pid, what, open_it):
    """One attempt after another until PID has ended: OPEN_IT opens the menu (or gives None), and keys choose
    the command above its last. The Return ends the program, which can take its menu (and its icon) away
    before xdotool is done, so xdotool's status says nothing: each attempt waits for the end, and only a
    program still running a minute later (its menu replaced before the keys reached it) is asked again."""
    def attempt():
        if pid_ended(pid):
            return True
        menu = open_it()
        if menu is None:
            return False
        subprocess.run(["xdotool", "key", "--window", str(menu), "Up", "Up", "Return"], capture_output=True,
                       env=session.environment)
        try:
            return wait_until(lambda: pid_ended(pid), "the end", 60)
        except WaitTimeout:
            return False
    wait_until(attempt, what, 300)


def launch_kelvaro_from_lite(session, lite_pid):
    def open_it():
        icon = lite_icon(session, lite_pid)
        return icon and open_menu(session, lite_pid, icon, 8, 8, 3)
    launch_from_menu(session, lite_pid, "Lite did not quit on its menu's launch command", open_it)


def launch_lite_from_kelvaro(session, kelvaro_pid):
    """Kelvaro > Launch Kelvaro Lite in the menu bar of Kelvaro's sensor overview."""
    def open_it():
        overview = next(iter(xdotool(session, "search", "--onlyvisible", "--name", "^Sensor Overview")), None)
        if overview is None:
            return None
        # Windows cascade over one another: the overview's menu bar must be on top where the click goes
        # (without a window manager the server raises it at once, before the click that follows). From the
        # bottom of the menu: Quit, then the launch above it.
        if subprocess.run(["xdotool", "windowraise", overview], capture_output=True,
                          env=session.environment).returncode != 0:
            return None
        return open_menu(session, kelvaro_pid, overview, 30, 8, 1)
    launch_from_menu(session, kelvaro_pid, "Kelvaro did not quit on its menu's launch command", open_it)
