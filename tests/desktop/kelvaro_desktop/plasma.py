"""KDE Plasma of a test's own: KWin on its virtual backend (1600x1000) with its XWayland, the activity manager,
kded (whose module is the StatusNotifierWatcher) and plasmashell with its panel and system tray; and what its
user sees: KWin's windows in their stacking order, the screen as KWin paints it, the tray's icons.

KWin answers these through its own D-Bus interfaces: a script it runs prints its window list (KWin logs a
script's print() under the kwin_scripting category), and its ScreenShot2 interface writes the composited
screen into a pipe."""

import glob
import json
import os
import re
import shutil
import struct
import zlib

import pytest

from .sni import need_dbus
from .wayland import run_natively
from .waits import wait_until
from .x11 import need_tools
from .xfce import bus_name_owned, watcher_owned

try:
    import dbus
except ImportError:  # skipped by need_dbus
    dbus = None

WIDTH, HEIGHT = 1600, 1000

# Prints KWin's windows, one JSON object a line, each with its place in the stack (0 lowest):
# KWin 5.27's scripts have the list of clients and each one's place, later ones the stacking order as a list.
WINDOW_LIST_SCRIPT = """
var windows = workspace.stackingOrder || workspace.clientList();
for (var i = 0; i < windows.length; i++) {
    var w = windows[i], g = w.frameGeometry;
    print(TOKEN + JSON.stringify({
        stackingOrder: w.stackingOrder === undefined ? i : w.stackingOrder,
        caption: w.caption, resourceClass: String(w.resourceClass), pid: w.pid,
        x: g.x, y: g.y, width: g.width, height: g.height,
        keepBelow: w.keepBelow, keepAbove: w.keepAbove, minimized: w.minimized, hidden: w.hidden,
        desktopWindow: w.desktopWindow, dock: w.dock, normalWindow: w.normalWindow, dialog: w.dialog,
        skipTaskbar: w.skipTaskbar, opacity: w.opacity, layer: w.layer === undefined ? null : w.layer,
        windowId: w.windowId === undefined ? 0 : w.windowId,
        transientFor: w.transientFor ? String(w.transientFor.caption) : null}));
}
"""


def _libexec(name):
    return next(iter(glob.glob(f"/usr/lib/*/libexec/{name}")), None)


class Plasma:
    """MODE "native" runs the session's programs as Wayland clients (QT_QPA_PLATFORM=wayland), "xwayland" as
    X11 clients of KWin's X server. Plasma's own programs are Wayland clients either way; with SHELL False only
    KWin runs (no panel, no tray)."""

    def __init__(self, session, session_bus, mode="xwayland", shell=True):
        need_tools("kwin_wayland", "Xwayland", "dbus-send")
        need_dbus()
        if not glob.glob("/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so"):
            pytest.skip("qt6-wayland is not installed")
        if shell and (not shutil.which("plasmashell") or not shutil.which("kded5")
                      or not _libexec("kactivitymanagerd")):
            pytest.skip("plasma-workspace is not installed")
        self.session, self.bus, self.mode = session, session_bus, mode
        env = session.environment
        folder = session.folder
        # Its file capability (cap_sys_resource) is one a container may not grant, and then exec fails; a
        # copy has none.
        kwin = folder / "kwin_wayland"
        shutil.copy("/usr/bin/kwin_wayland", kwin)
        # KWin starts this once its X server is up, in the environment it gives its clients; KWin ends when
        # it ends, and it ends with KWin (whose child it is not: killed, KWin would leave it to run on).
        self._displays = folder / "kwin-displays"
        kwin_pid = folder / "kwin.pid"
        probe = folder / "kwin-client.sh"
        probe.write_text("#!/bin/sh\nprintf '%s\\n%s\\n%s\\n' \"$WAYLAND_DISPLAY\" \"$DISPLAY\" \"$XAUTHORITY\" "
                         f"> '{self._displays}.new' && mv '{self._displays}.new' '{self._displays}'\n"
                         f"while [ ! -s '{kwin_pid}' ]; do sleep 0.1; done\n"
                         f"exec tail -f /dev/null --pid=\"$(cat '{kwin_pid}')\"\n")
        probe.chmod(0o755)
        self.socket = f"kelvaro-kwin-{os.getpid()}"
        os.makedirs("/tmp/.X11-unix", mode=0o1777, exist_ok=True)
        self._scripts = 0
        self.process = session.start(
            "kwin", kwin, "--virtual", "--width", str(WIDTH), "--height", str(HEIGHT), "--xwayland",
            "--socket", self.socket, "--no-lockscreen", probe,
            environment={"QT_QPA_PLATFORM": "wayland", "KWIN_SCREENSHOT_NO_PERMISSION_CHECKS": "1",
                         "QT_LOGGING_RULES": "kwin_scripting.debug=true", "DISPLAY": "", "WAYLAND_DISPLAY": ""})
        kwin_pid.write_text(str(self.process.pid))
        wait_until(lambda: self._displays.exists(), "KWin did not start its X server", 60,
                   abort=lambda: None if self.process.running() else f"KWin ended ({self.process.status()})")
        wayland, display, xauthority = (self._displays.read_text().split("\n") + ["", "", ""])[:3]
        env["WAYLAND_DISPLAY"], env["DISPLAY"] = wayland, display
        if xauthority:
            env["XAUTHORITY"] = xauthority
        env.update(XDG_SESSION_TYPE="wayland", XDG_CURRENT_DESKTOP="KDE", KDE_FULL_SESSION="true",
                   KDE_SESSION_VERSION="5")
        session_bus.share_folders(session)
        wait_until(lambda: bus_name_owned(session, "org.kde.KWin"), "KWin owned no name on the bus", 60)
        plasma_env = {"QT_QPA_PLATFORM": "wayland"}
        if shell:
            session.start("kactivitymanagerd", _libexec("kactivitymanagerd"), environment=plasma_env)
            self.kded = session.start("kded5", "kded5", environment=plasma_env)
            wait_until(lambda: watcher_owned(session), "kded owned no StatusNotifierWatcher", 60,
                       abort=lambda: None if self.kded.running() else "kded ended")
            self.shell = session.start("plasmashell", "plasmashell", "--no-respawn", environment=plasma_env)
            wait_until(self.tray_up, "plasmashell showed no system tray", 120,
                       abort=lambda: None if self.shell.running() else "plasmashell ended")
        if mode == "native":
            run_natively(session)
        else:
            env["QT_QPA_PLATFORM"] = "xcb"

    def tray_up(self):
        """Whether plasmashell's tray hosts items (it registered with the watcher) and its panel is painted."""
        try:
            registered = self._watcher_property("IsStatusNotifierHostRegistered")
        except dbus.DBusException:
            return False
        return bool(registered) and any(w["caption"] == "Plasma" or w["dock"] for w in self.windows())

    def _watcher_property(self, name):
        bus = dbus.bus.BusConnection(self.session.environment["DBUS_SESSION_BUS_ADDRESS"])
        try:
            watcher = bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", introspect=False)
            return watcher.Get("org.kde.StatusNotifierWatcher", name,
                               dbus_interface="org.freedesktop.DBus.Properties", timeout=10)
        finally:
            bus.close()

    # --- What KWin shows ---

    def run_script(self, body):
        """Runs the KWin script BODY, in which print(TOKEN + ...) prints a line; the text of those lines after
        the token, once the script printed TOKEN + " end". None where KWin does not answer."""
        self._scripts += 1
        token = f"kelvaro-script-{self._scripts}"
        script = self.session.folder / f"{token}.js"
        script.write_text(body.replace("TOKEN", f'"{token} "') + f'\nprint("{token} end");\n')
        bus = dbus.bus.BusConnection(self.session.environment["DBUS_SESSION_BUS_ADDRESS"])
        try:
            scripting = bus.get_object("org.kde.KWin", "/Scripting", introspect=False)
            number = scripting.loadScript(str(script), token, dbus_interface="org.kde.kwin.Scripting", timeout=10)
            # KWin 5.27 puts a loaded script at /NUMBER; later ones at /Scripting/ScriptNUMBER.
            for path in (f"/{number}", f"/Scripting/Script{number}"):
                try:
                    bus.get_object("org.kde.KWin", path, introspect=False).run(
                        dbus_interface="org.kde.kwin.Script", timeout=10)
                    break
                except dbus.DBusException:
                    continue
            ended = f"{token} end"
            text = wait_until(lambda: (lambda t: t if ended in t else None)(self.process.log()),
                              "KWin's script printed nothing", 30)
            scripting.unloadScript(token, dbus_interface="org.kde.kwin.Scripting", timeout=10)
        except dbus.DBusException:
            return None
        finally:
            bus.close()
            script.unlink(missing_ok=True)
        return [m for m in re.findall(rf"{token} (.*)", text) if m != "end"]

    def windows(self):
        """KWin's windows, top of the stack first: dicts with caption, resourceClass, pid, x, y, width, height
        (the frame's), keepBelow, keepAbove, minimized, hidden, dock, desktopWindow, normalWindow, dialog,
        skipTaskbar, opacity, layer (KWin's: 0 the desktop, 1 below, 2 normal, 3 docks...), windowId (an X
        window's id, 0 for a Wayland one), transientFor (the caption of the window it belongs to, or None).
        Empty where KWin does not answer."""
        lines = self.run_script(WINDOW_LIST_SCRIPT) or []
        found = [json.loads(line) for line in lines if line.startswith("{")]
        return sorted(found, key=lambda w: -w["stackingOrder"])

    def close_window(self, caption):
        """Closes the windows titled CAPTION as their close button does."""
        self.run_script(f"var windows = workspace.clientList();\nfor (var i = 0; i < windows.length; i++)\n"
                        f"    if (windows[i].caption == {json.dumps(caption)}) windows[i].closeWindow();\n")

    def program_windows(self, pid):
        """The windows of process PID (an X client's, as KWin read its _NET_WM_PID), top first."""
        return [w for w in self.windows() if w["pid"] == pid]

    def screenshot_pixels(self):
        """The screen as KWin composites it: (width, height, rows of RGB bytes)."""
        bus = dbus.bus.BusConnection(self.session.environment["DBUS_SESSION_BUS_ADDRESS"])
        read_end, write_end = os.pipe()
        try:
            shot = bus.get_object("org.kde.KWin", "/org/kde/KWin/ScreenShot2", introspect=False)
            meta = shot.CaptureWorkspace(dbus.Dictionary({"native-resolution": True}, signature="sv"),
                                         dbus.types.UnixFd(write_end), dbus_interface="org.kde.KWin.ScreenShot2",
                                         timeout=30)
            os.close(write_end)
            write_end = None
            with os.fdopen(read_end, "rb") as pipe:
                read_end = None
                data = pipe.read()
        finally:
            for fd in (read_end, write_end):
                if fd is not None:
                    os.close(fd)
            bus.close()
        width, height, stride = int(meta["width"]), int(meta["height"]), int(meta["stride"])
        # QImage's 32-bit formats, as the little-endian bytes B, G, R, A of each pixel.
        rows = []
        for y in range(height):
            row = data[y * stride:y * stride + width * 4]
            rgb = bytearray(width * 3)
            rgb[0::3], rgb[1::3], rgb[2::3] = row[2::4], row[1::4], row[0::4]
            rows.append(bytes(rgb))
        return width, height, rows

    def screenshot(self, name, always=False):
        """The screen into $KELVARO_SCREENSHOT_DIR/NAME.png when asked for (or, with ALWAYS, into the
        session's folder); the pixels too."""
        pixels = self.screenshot_pixels()
        folder = os.environ.get("KELVARO_SCREENSHOT_DIR") or (str(self.session.folder) if always else None)
        if folder:
            write_png(f"{folder}/{name}.png", *pixels)
        return pixels

    def tray_icons(self, pixels=None, colour=None):
        """The coloured icons in plasmashell's panel, left to right, as a user reads them: (x on the screen,
        width, colour) of each run of columns that differ from the panel's background, where one slot colour
        (red, green, blue, as tray.SLOT_COLOURS paints them) prevails. Plasma's own icons are grey and left
        out. COLOUR, when given, names a pixel's colour ((r, g, b) to a name or None) in place of those three."""
        width, height, rows = pixels or self.screenshot_pixels()
        panel = next((w for w in self.windows() if w["dock"]), None)
        assert panel is not None, "plasmashell shows no panel"
        # The strip within the panel's edge lines.
        top, bottom = max(0, panel["y"]) + 2, min(height, panel["y"] + panel["height"]) - 2
        left, right = max(0, panel["x"]), min(width, panel["x"] + panel["width"])
        strip = [[rows[y][3 * x:3 * x + 3] for y in range(top, bottom)] for x in range(left, right)]
        counts = {}
        for column in strip:
            for p in column:
                counts[p] = counts.get(p, 0) + 1
        background = max(counts, key=counts.get)

        def slot_colour(r, g, b):
            for name, (c, o1, o2) in (("red", (r, g, b)), ("green", (g, r, b)), ("blue", (b, r, g))):
                if c > 100 and c > o1 + 60 and c > o2 + 60:
                    return name
            return None
        colour = colour or slot_colour

        icons, start = [], None
        for i, column in enumerate(strip + [[]]):
            used = any(p != background for p in column)
            if used and start is None:
                start = i
            elif not used and start is not None:
                votes = {}
                for p in (p for c in strip[start:i] for p in c):
                    c = colour(*p)
                    if c:
                        votes[c] = votes.get(c, 0) + 1
                best = max(votes, key=votes.get) if votes else None
                if best and votes[best] >= 10:
                    icons.append((left + start, i - start, best))
                start = None
        return icons

    def wait_tray_icons(self, colours, what="the tray's icons"):
        """Until the tray shows icons of COLOURS, left to right; the icons seen last in the failure."""
        seen = []

        def shown():
            seen[:] = self.tray_icons()
            return [c for _, _, c in seen] == list(colours)
        try:
            wait_until(shown, what, interval=0.5)
        except AssertionError:
            raise AssertionError(f"plasmashell's tray shows, left to right: {[c for _, _, c in seen]} "
                                 f"(expected {' '.join(colours)})") from None
        return seen


def write_png(path, width, height, rows):
    """RGB rows as a PNG file."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xffffffff)
    raw = b"".join(b"\0" + row for row in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))
