"""XFCE's panel as a tray host: xfce4-panel holding only its status tray plugin, which is both the
StatusNotifierWatcher and its host and speaks XEmbed too, configured through an xfconfd of the test's own;
stopped, continued, restarted and killed as a session does it."""

import glob
import os
import signal
import subprocess

import pytest

from .sni import need_dbus
from .tray import TrayPanel, root_tree
from .waits import wait_until
from .x11 import menus, need_tools, xdotool

# The panel: 32 pixels at the top, the tray at its left on a plain dark background.
PANEL_CONFIG = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="background-style" type="uint" value="1"/>
      <property name="background-rgba" type="array">
        <value type="double" value="0.19"/><value type="double" value="0.19"/>
        <value type="double" value="0.19"/><value type="double" value="1"/>
      </property>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
  </property>
</channel>
"""


def bus_name_owned(session, name):
    reply = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                            "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", f"string:{name}"],
                           capture_output=True, text=True, env=session.environment)
    return "boolean true" in reply.stdout


def watcher_owned(session):
    return bus_name_owned(session, "org.kde.StatusNotifierWatcher")


class XfcePanel(TrayPanel):
    """Needs the session's bus (its folders shared with it) and display; the configuration is written before
    anything runs in the session, also for a settings daemon the bus starts on its own."""
    PANEL = '"xfce4-panel": ("xfce4-panel" "Xfce4-panel")'

    def __init__(self, session, session_bus):
        need_tools("xfce4-panel", "import", "xdotool", "xwininfo", "dbus-send")
        need_dbus()
        self.session = session
        folder = os.path.join(session.environment["XDG_CONFIG_HOME"], "xfce4/xfconf/xfce-perchannel-xml")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "xfce4-panel.xml"), "w") as f:
            f.write(PANEL_CONFIG)
        session_bus.share_folders(session)
        self.starts = 0
        self.start()

    def start(self):
        """The panel (and, the first time, its settings daemon), once its tray watches for items."""
        if not bus_name_owned(self.session, "org.xfce.Xfconf"):
            xfconfd = next(iter(glob.glob("/usr/lib/*/xfce4/xfconf/xfconfd")), None)
            if xfconfd is None:
                pytest.skip("xfconfd not found")
            self.session.start("xfconfd", xfconfd)
            wait_until(lambda: bus_name_owned(self.session, "org.xfce.Xfconf"), "xfconfd owned no name")
        self.starts += 1
        self.process = self.session.start(f"panel-{self.starts}", "xfce4-panel", "--disable-wm-check")
        wait_until(lambda: self.PANEL in root_tree(self.session) and watcher_owned(self.session),
                   "the XFCE panel showed no tray",
                   abort=lambda: None if self.process.running() else "the panel ended")

    def processes(self):
        """The panel and the plugin processes it started (the tray runs in one of them)."""
        children = subprocess.run(["pgrep", "-P", str(self.process.pid)], capture_output=True, text=True).stdout
        return [self.process.pid] + [int(p) for p in children.split()]

    def send(self, number):
        for pid in self.processes():
            try:
                os.kill(pid, number)
            except ProcessLookupError:
                pass

    def stop(self, number=signal.SIGTERM):
        """Ends the panel with NUMBER (SIGTERM, or SIGKILL as at a logout), once its tray's watcher is gone."""
        self.send(number)
        self.process.wait_ended("the panel did not end")
        wait_until(lambda: not watcher_owned(self.session), "the tray's watcher did not go")


def menus_of(session, pid):
    """How many menus PID shows."""
    return len(menus(session, pid))

def pick_menu_bar_values(session, pid, count):
    """"COUNT Values" in the Display > Menu Bar menu of Kelvaro's sensor window, with the keyboard as a user
    does."""
    # Shown a moment after the program is ready, later on a busy machine.
    window = wait_until(lambda: next(iter(xdotool(session, "search", "--all", "--onlyvisible", "--pid", pid,
                                                  "--name", "^Sensors")), None),
                        "no sensor window to pick the tray's value count in", 30)
    # Alt alone puts the keys into the menu bar: Kelvaro, File, Sensors, Display; the first item of Display is
    # the Menu Bar submenu (no other menu starts with one), whose items run from No Values down. The window
    # takes Alt only once it knows itself active, which no window manager tells it here, and shows nothing for
    # it: Alt again until the Display menu opens. The pointer out of the way, so that no menu opens under it.
    xdotool(session, "mousemove", 0, 799)
    for _ in range(10):
        xdotool(session, "windowfocus", "--sync", window)
        xdotool(session, "key", "--window", window, "alt")
        xdotool(session, "key", "--window", window, "Right", "Right", "Right", "Down")
        try:
            wait_until(lambda: menus_of(session, pid) >= 1, "the Display menu", 5)
            break
        except AssertionError:
            xdotool(session, "key", "Escape", "Escape")
    assert menus_of(session, pid) >= 1, "the Display menu did not open"
    xdotool(session, "key", "Right")
    wait_until(lambda: menus_of(session, pid) >= 2, "the Menu Bar submenu did not open", 30)
    if count:
        xdotool(session, "key", *["Down"] * count)
    xdotool(session, "key", "Return")
    wait_until(lambda: menus_of(session, pid) == 0, "the menus did not close", 30)
