"""GNOME Shell of a test's own: headless on Wayland with its XWayland, the AppIndicator extension as the
session's StatusNotifierWatcher and host, on the session's bus and a second bus of the test's own as the
system bus (without one the Shell ends at start). The Shell runs in its unsafe mode, so that a test reads what
the user sees through its Eval: the panel's icons left to right, their menus, mutter's windows as stacked, and
screenshots through its Screenshot interface."""

import glob
import json
import os
import re
import signal
import subprocess

import pytest

from .sni import bus_names, dbus, need_dbus
from .waits import WaitTimeout, wait_until
from .wayland import run_natively
from .x11 import need_tools

EXTENSION = "ubuntu-appindicators@ubuntu.com"
SCREEN_WIDTH, SCREEN_HEIGHT = 1600, 1000

# Every icon of the panel the extension shows, left to right.
PANEL_ICONS_JS = """
(() => {
    const shown = [];
    for (const box of [Main.panel._leftBox, Main.panel._centerBox, Main.panel._rightBox]) {
        for (const child of box.get_children()) {
            const key = Object.keys(Main.panel.statusArea).find(k => Main.panel.statusArea[k] &&
                Main.panel.statusArea[k].container === child);
            if (!key || !key.startsWith('appindicator-'))
                continue;
            const icon = Main.panel.statusArea[key];
            const indicator = icon._indicator;
            const [x, y] = child.get_transformed_position();
            const drawn = icon._icon;
            const [ix, iy] = drawn ? drawn.get_transformed_position() : [0, 0];
            const [iw, ih] = drawn ? drawn.get_transformed_size() : [0, 0];
            shown.push({key, visible: child.mapped && icon.visible, x: Math.round(x), y: Math.round(y),
                        width: Math.round(child.width), height: Math.round(child.height),
                        icon_box: [Math.round(ix), Math.round(iy), Math.round(iw), Math.round(ih)],
                        bus_name: indicator ? indicator.busName : '', path: indicator ? indicator._objectPath
                            || indicator._proxy.g_object_path : '',
                        id: indicator ? indicator.id : '', title: indicator ? indicator.title : '',
                        status: indicator ? indicator.status : ''});
        }
    }
    return shown;
})()
"""

# The menu of one icon, opened as a click opens it: its box on the screen and each of its lines.
MENU_JS = """
(() => {
    const icon = Main.panel.statusArea[%(key)s];
    if (!icon || !icon.menu)
        return null;
    if (%(open)s && !icon.menu.isOpen)
        icon.menu.open();
    if (!icon.menu.isOpen)
        return null;
    const extents = actor => {
        const [x, y] = actor.get_transformed_position();
        const [width, height] = actor.get_transformed_size();
        const box = [x, y, width, height].map(Math.round);
        return box.every(Number.isFinite) ? box : null;
    };
    const lines = menu => menu._getMenuItems().map(item => {
        const separator = item instanceof imports.ui.popupMenu.PopupSeparatorMenuItem;
        const label = separator ? '-' : item.label ? item.label.text : '';
        const line = {label, visible: item.actor.visible, sensitive: item.sensitive !== false,
                      box: item.actor.mapped ? extents(item.actor) : null};
        if (item.menu && item.menu !== menu)
            line.submenu = lines(item.menu);
        return line;
    });
    return {box: extents(icon.menu.actor), lines: lines(icon.menu)};
})()
"""

# Mutter's windows, top of the stack first.
WINDOWS_JS = """
(() => global.display.sort_windows_by_stacking(global.get_window_actors().map(a => a.meta_window))
    .reverse().map(w => {
        const r = w.get_frame_rect();
        const parent = w.get_transient_for();
        return {id: w.get_id(), title: w.get_title() || '', wm_class: w.get_wm_class() || '', pid: w.get_pid(),
                x: r.x, y: r.y, width: r.width, height: r.height, minimized: w.minimized,
                client: w.get_client_type() === Meta.WindowClientType.X11 ? 'x11' : 'wayland',
                type: w.get_window_type(), layer: w.get_layer(), focused: w.has_focus(),
                above: w.is_above(), transient_for: parent ? parent.get_title() || '' : null,
                shown: !w.minimized && w.showing_on_its_workspace() && !w.is_hidden()};
    }))()
"""


class GnomeShell:
    """MODE "xwayland" leaves the programs to pick XWayland themselves, as they do in a GNOME session; "native"
    runs them as Wayland clients (QT_QPA_PLATFORM=wayland). Needs the session's bus; its folders are shared
    with the services the bus starts for the Shell. The overview the Shell opens at start is closed again, as
    the user's first look at the desktop does."""

    def __init__(self, session, session_bus, mode="xwayland"):
        need_tools("gnome-shell", "gjs", "gsettings", "dbus-daemon")
        need_dbus()
        if not os.path.isdir(f"/usr/share/gnome-shell/extensions/{EXTENSION}"):
            pytest.skip("the AppIndicator extension of GNOME Shell is not installed")
        if not glob.glob("/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so"):
            pytest.skip("qt6-wayland is not installed")
        self.session, self.mode = session, mode
        env = session.environment
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        env.update(XDG_CURRENT_DESKTOP="GNOME", XDG_SESSION_DESKTOP="gnome", XDG_SESSION_TYPE="wayland")
        self.system_bus, address = session.start_announcing(
            "system-bus", "dbus-daemon", "--session", "--nofork", "--print-address={fd}", what="the system bus")
        env["DBUS_SYSTEM_BUS_ADDRESS"] = address
        session_bus.share_folders(session)
        settings = session.start("gsettings", "gsettings", "set", "org.gnome.shell", "enabled-extensions",
                                 f"['{EXTENSION}']")
        assert settings.wait_ended("gsettings did not end") == 0, f"gsettings failed: {settings.log()}"
        self.process = session.start("gnome-shell", "gnome-shell", "--headless", "--wayland", "--unsafe-mode",
                                     "--virtual-monitor", f"{SCREEN_WIDTH}x{SCREEN_HEIGHT}")
        # Killed, the Shell would leave its X server's lock and socket behind.
        self.process.end_signal = signal.SIGTERM
        ended = lambda: None if self.process.running() else f"the Shell ended ({self.process.status()})"
        found = wait_until(lambda: re.search(r"Using public X11 display (:\d+)", self.process.log()),
                           "the Shell did not start its X server", 120, abort=ended)
        wayland = wait_until(lambda: re.search(r"Using Wayland display name '([^']+)'", self.process.log()),
                             "the Shell did not name its Wayland display", 60, abort=ended)
        self.display, self.wayland_display = found.group(1), wayland.group(1)
        runtime = env["XDG_RUNTIME_DIR"]
        authority = wait_until(lambda: glob.glob(f"{runtime}/.mutter-Xwaylandauth.*"),
                               "the Shell wrote no X authority", 60, abort=ended)
        env.update(DISPLAY=self.display, XAUTHORITY=authority[0], WAYLAND_DISPLAY=self.wayland_display)
        self._bus = dbus.bus.BusConnection(env["DBUS_SESSION_BUS_ADDRESS"])
        wait_until(lambda: self._try_eval("!Main.layoutManager._startingUp && "
                                          "!!Main.extensionManager.lookup('%s') && "
                                          "Main.extensionManager.lookup('%s').state === 1" % (EXTENSION, EXTENSION)),
                   "the Shell did not start up with the AppIndicator extension", 120, abort=ended)
        wait_until(lambda: self.name_owned("org.kde.StatusNotifierWatcher"),
                   "the extension's StatusNotifierWatcher did not come", 60, abort=ended)
        self.eval("Main.overview.hide(); true")
        wait_until(lambda: self._try_eval("!Main.overview.visible && !Main.overview.animationInProgress"),
                   "the Shell's overview did not close", 60, abort=ended)
        if mode == "native":
            run_natively(session)

    # --- The Shell's own interfaces ---

    def name_owned(self, name):
        try:
            return bool(self._bus.name_has_owner(name))
        except dbus.DBusException:
            return False

    def _try_eval(self, script):
        try:
            return self.eval(script)
        except (AssertionError, dbus.DBusException):
            return None

    def eval(self, script):
        """What SCRIPT, run in the Shell, gives as JSON, decoded; raises where the script failed."""
        shell = self._bus.get_object("org.gnome.Shell", "/org/gnome/Shell", introspect=False)
        ok, result = shell.Eval(script, dbus_interface="org.gnome.Shell", timeout=30)
        assert ok, f"the Shell failed to run a script: {result}"
        return json.loads(str(result)) if result else None

    def panel_icons(self, shown_only=True):
        """The AppIndicator icons in the panel, left to right: a dict each (key, visible, x, y, width, height
        of its button, icon_box of its picture, bus_name, path, id, title, status); with SHOWN_ONLY those the
        user sees."""
        icons = self.eval(PANEL_ICONS_JS) or []
        # An icon not laid out yet has no place.
        icons = [icon for icon in icons if icon["x"] is not None]
        icons.sort(key=lambda icon: icon["x"])
        return [icon for icon in icons if icon["visible"] or not shown_only]

    def icons_of(self, pid, count=None, timeout=60):
        """The shown icons of the program PID, left to right; with COUNT, waited for until there are so many."""
        def mine():
            names = bus_names(self.session, pid)
            return [icon for icon in self.panel_icons() if icon["bus_name"] in names]
        if count is None:
            return mine()
        seen = []

        def counted():
            seen[:] = mine()
            return len(seen) == count
        try:
            wait_until(counted, "", timeout)
        except WaitTimeout:
            raise WaitTimeout(f"the panel shows {len(seen)} icons of {pid}, not {count}, within {timeout:g} s") \
                from None
        return seen

    def menu(self, icon, open_it=True):
        """The menu of ICON (a dict of panel_icons) as the Shell shows it, opened first with OPEN_IT: its box
        (x, y, width, height) and its lines, each a dict of label ("-" for a separator), visible, sensitive,
        box (as on the screen, None while not laid out) and, for a submenu, its lines; None while it is closed."""
        script = MENU_JS % {"key": json.dumps(icon["key"]), "open": "true" if open_it else "false"}
        return self.eval(script)

    def open_submenu(self, icon, label):
        """Opens the submenu LABEL of ICON's open menu, as a click on its line does."""
        found = self.eval("""(() => {
            const icon = Main.panel.statusArea[%s];
            const item = icon && icon.menu._getMenuItems().find(i => i.menu && i.label && i.label.text === %s);
            if (!item)
                return false;
            item.setSubmenuShown(true);
            return true;
        })()""" % (json.dumps(icon["key"]), json.dumps(label)))
        assert found, f"the menu has no submenu {label!r}"

    def close_menus(self):
        self.eval("Main.panel.menuManager.activeMenu && Main.panel.menuManager.activeMenu.close(); true")

    def windows(self):
        """Mutter's windows but the Shell's own, top of the stack first: a dict each (id, title, wm_class, pid, x, y, width, height of
        its frame, minimized, client "x11" or "wayland", type, layer, focused, above, transient_for, shown)."""
        return [w for w in self.eval(WINDOWS_JS) or [] if w["pid"] != self.process.pid]

    def plug_keyboard(self):
        """A keyboard on the Shell's seat, as a session at a desk has: its clients are told of the keyboard's
        focus. The headless Shell has none."""
        self.eval("""
(() => {
    const Clutter = imports.gi.Clutter;
    if (!global._kelvaroKeyboard)
        global._kelvaroKeyboard = Clutter.get_default_backend().get_default_seat()
            .create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
    return true;
})()""")

    def press_key(self, pid, title, key):
        """KEY (a Clutter key name: "Escape") pressed and let go on a virtual keyboard of the Shell, the window
        TITLE of process PID focused first as a click on it would; whether there was such a window."""
        return self.eval("""
(() => {
    const w = global.get_window_actors().map(a => a.meta_window)
        .find(w => w.get_pid() === %d && w.get_title() === %s);
    if (!w)
        return false;
    w.activate(global.get_current_time());
    const Clutter = imports.gi.Clutter, GLib = imports.gi.GLib;
    const seat = Clutter.get_default_backend().get_default_seat();
    const keyboard = seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
    const now = GLib.get_monotonic_time();
    keyboard.notify_keyval(now, Clutter.KEY_%s, Clutter.KeyState.PRESSED);
    keyboard.notify_keyval(now + 1000, Clutter.KEY_%s, Clutter.KeyState.RELEASED);
    return true;
})()""" % (pid, json.dumps(title), key, key))

    def screenshot(self, name, folder=None):
        """The whole screen as the Shell draws it into FOLDER/NAME.png (else $KELVARO_SCREENSHOT_DIR's, when
        set, and the session's folder): its path."""
        folder = folder or os.environ.get("KELVARO_SCREENSHOT_DIR") or str(self.session.folder)
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, f"{name}.png")
        screenshot = self._bus.get_object("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
                                          introspect=False)
        ok, written = screenshot.Screenshot(False, False, path, dbus_interface="org.gnome.Shell.Screenshot",
                                            timeout=30)
        assert ok, f"the Shell took no screenshot into {path}"
        return str(written)


def pixels(png, box):
    """The pixels of PNG within BOX (x, y, width, height): rows of (r, g, b), top to bottom."""
    x, y, w, h = box
    out = subprocess.run(["convert", png, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-depth", "8", "txt:-"],
                         capture_output=True, text=True, check=True).stdout
    rows = [[(0, 0, 0)] * w for _ in range(h)]
    for line in out.splitlines()[1:]:
        coords, rest = line.split(":", 1)
        px, py = map(int, coords.split(","))
        colour = rest.split("#")[1][:6]
        rows[py][px] = tuple(int(colour[i:i + 2], 16) for i in (0, 2, 4))
    return rows
