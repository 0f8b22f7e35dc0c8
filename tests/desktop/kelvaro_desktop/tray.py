"""An X11 system tray of a test's own (trayer, an XEmbed host), the icons it docks as seen on the screen, and
the menu a click on an icon opens."""

import colorsys
import plistlib
import struct
import subprocess

from .waits import WaitTimeout, wait_until
from .x11 import xdotool

# The host's panel as xwininfo names it.
TRAYER_PANEL = '"panel": ("panel" "trayer")'

# The colours of the three test slots: each icon tells its slot by its colour.
SLOT_COLOURS = ((0.75, 0.1, 0.1), (0.05, 0.5, 0.1), (0.1, 0.2, 0.85))


# Eight slots told apart by hue, 45 degrees apart, each dark enough to be drawn on a light plate.
SLOT_HUES = tuple(range(0, 360, 45))


def hue_colour(hue):
    """The slot colour of HUE (degrees): saturated, of middle lightness."""
    return colorsys.hsv_to_rgb(hue / 360, 0.9, 0.8)


def slot_of_pixel(pixel):
    """The slot (1-based) whose hue the pixel ((r, g, b) each 0-255) has, or None for a grey one."""
    h, s, v = colorsys.rgb_to_hsv(*(c / 255 for c in pixel))
    if s <= 0.45 or v <= 0.3:
        return None
    return 1 + min(range(len(SLOT_HUES)),
                   key=lambda i: min(abs(h * 360 - SLOT_HUES[i]), 360 - abs(h * 360 - SLOT_HUES[i])))


def slot_of_hue(pixels):
    """The slot (1-based) whose hue most of the coloured PIXELS have, or None."""
    votes = [0] * (len(SLOT_HUES) + 1)
    for pixel in pixels:
        votes[slot_of_pixel(pixel) or 0] += 1
    best = max(range(1, len(votes)), key=votes.__getitem__)
    return best if votes[best] >= 3 else None


def archived_colour(rgb):
    """An archived colour (typedstream): calibrated RGB and alpha, each a float, 0 and 1 stored as one byte."""
    head = (b"\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x07NSColor\x00\x84\x84\x08NSObject\x00\x85"
            b"\x84\x01c\x01\x84\x04ffff")

    def component(value):
        return bytes([value]) if value in (0, 1) else b"\x83" + struct.pack("<f", value)
    return head + b"".join(map(component, tuple(rgb) + (1,))) + b"\x86"


def show_coloured_values(session, count=3, colours=SLOT_COLOURS):
    """The stored preferences show COUNT values in the tray, the first in COLOURS (red, green and blue)."""
    preferences = session.read_preferences()
    preferences["MenuBarValueMode"] = count
    for machine in preferences["MachinePreferences"].values():
        machine["MenuBarUsesColor"] = True
        for name, rgb in zip(machine["MenuBarSensors"], colours):
            machine["AvailableGauges"][name]["Color"] = archived_colour(rgb)
    with open(session.preferences_file, "wb") as f:
        plistlib.dump(preferences, f)


def first_run_with_coloured_values(session, programs, count=3, colours=SLOT_COLOURS):
    """Kelvaro's first run writes the computer's preferences, which Lite reads too; then they show COUNT
    values in the slot colours."""
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", programs.computer("portable"))
    kelvaro.wait_ready("Kelvaro")
    kelvaro.quit_cleanly("the first run of Kelvaro")
    show_coloured_values(session, count, colours)


def root_tree(session):
    return subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True,
                          env=session.environment).stdout


class TrayPanel:
    """A tray host's panel on the screen, as xwininfo names it (`PANEL`): the icons it docks as drawn."""
    PANEL = ""
    session = None

    def icons(self):
        """The drawn icons in the panel, left to right: (x on the screen, width, colour), the colour the slot
        colour most of its pixels have (red, green, blue or other)."""
        line = next((l for l in root_tree(self.session).splitlines() if self.PANEL in l), None)
        if line is None:
            return []
        w, h, x, y = (int(v) for v in line.split()[-2].replace("x", " ").replace("+", " ").split()[:4])
        out = subprocess.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "-depth", "8", "txt:-"],
                             capture_output=True, text=True, env=self.session.environment).stdout
        pixels = {}
        for row in out.splitlines()[1:]:
            coords, rest = row.split(":", 1)
            px, py = map(int, coords.split(","))
            pixels[(px, py)] = rest.split("#")[1][:6]
        # What import gave: less than the panel where the panel moved or grew between the two looks.
        w = 1 + max((px for px, _ in pixels), default=-1)
        h = 1 + max((py for _, py in pixels), default=-1)
        if len(pixels) != w * h or (0, h // 2) not in pixels:
            return []
        background = pixels[(0, h // 2)]
        columns = [any(pixels.get((px, py)) != background for py in range(h)) for px in range(w)]
        spans, start = [], None
        for px, used in enumerate(columns + [False]):
            if used and start is None:
                start = px
            elif not used and start is not None:
                spans.append((start, px))
                start = None
        icons = []
        for a, b in spans:
            colours = {pixels[(px, py)] for px in range(a, b) for py in range(h)}
            if b - a < 8 or len(colours) <= 8:
                continue
            votes = {"red": 0, "green": 0, "blue": 0}
            for px in range(a, b):
                for py in range(h):
                    r, g, bl = (int(pixels[(px, py)][i:i + 2], 16) for i in (0, 2, 4))
                    for name, (c, o1, o2) in {"red": (r, g, bl), "green": (g, r, bl), "blue": (bl, r, g)}.items():
                        if c > 120 and c > o1 + 80 and c > o2 + 80:
                            votes[name] += 1
            best = max(votes, key=votes.get)
            icons.append((x + a, b - a, best if votes[best] > 10 else "other"))
        return icons

    def wait_icons(self, count, colours=None):
        """Until the panel shows COUNT drawn icons; with COLOURS, also that they read so left to right."""
        seen = []

        def shown():
            seen[:] = self.icons()
            return len(seen) == count and (colours is None or [c for _, _, c in seen] == list(colours))
        try:
            wait_until(shown, "the tray's icons", interval=0.5)
        except WaitTimeout:
            raise AssertionError(f"the tray shows, left to right: {[c for _, _, c in seen]} "
                                 f"(expected {count} icons{': ' + ' '.join(colours) if colours else ''})") from None
        return seen

class Trayer(TrayPanel):
    """trayer at the top right edge. A host that ends before its panel shows is started once more: it is test
    equipment, not the program under test."""
    PANEL = TRAYER_PANEL

    def __init__(self, session):
        self.session = session
        self.start()

    def start(self):
        for attempt in (1, 2):
            self.process = self.session.start(
                f"trayer-{attempt}", "trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                "--height", "32", "--iconspacing", "4", "--tint", "0x303030", "--transparent", "true",
                "--alpha", "0")
            try:
                wait_until(lambda: self.PANEL in root_tree(self.session), "the tray host shows no panel",
                           abort=lambda: None if self.process.running() else "trayer ended")
                return
            except WaitTimeout:
                if self.process.running():
                    raise
        raise AssertionError("the tray host ended twice before its panel showed")

    def stop(self):
        self.process.popen.terminate()
        self.process.wait_ended("trayer did not end")


def open_menu_size(session):
    """The size ("WIDTHxHEIGHT") of the menu on the screen, or None: the tallest popup over 100 px. The
    tooltip the pointer raises over an icon (a popup too) is a line or two of text, while the tray's menu
    holds a dozen items or more."""
    best = None
    for window in xdotool(session, "search", "--onlyvisible", "--name", ""):
        info = subprocess.run(["xwininfo", "-id", window], capture_output=True, text=True,
                              env=session.environment).stdout
        if "Override Redirect State: yes" not in info:
            continue
        fields = dict(l.strip().split(": ", 1) for l in info.splitlines() if l.strip().startswith(("Width", "Height")))
        w, h = int(fields.get("Width", 0)), int(fields.get("Height", 0))
        if w > 40 and h > 100 and (best is None or h > best[1]):
            best = (w, h)
    return f"{best[0]}x{best[1]}" if best else None


def menu_of_click(session, x, button):
    """The size of the menu a click with BUTTON on the icon at X opens, once it keeps its size (a host that
    shows the menu itself fills it as the items come over the bus); the menu is closed again."""
    point = x + 8
    xdotool(session, "mousemove", point, 16, "click", button)
    sizes = []

    def settled():
        size = open_menu_size(session)
        sizes.append(size)
        # A click that came while the host still held the pointer for the menu before is lost: once more.
        if size is None and len(sizes) % 40 == 0:
            xdotool(session, "mousemove", point, 16, "click", button)
        return size is not None and len(sizes) > 1 and sizes[-2] == size
    try:
        wait_until(settled, "a menu that keeps its size", 30, interval=0.25)
    except WaitTimeout:
        pass
    # Gone before the next click, so that it does not land on the menu: one that has not taken the keyboard
    # yet misses the key, so the key is sent until it is gone.
    def closed():
        if open_menu_size(session) is None:
            return True
        xdotool(session, "key", "Escape")
        return False
    wait_until(closed, "the menu did not close on Escape", 30, interval=0.2)
    return sizes[-1] if sizes else None


def expect_either_button_opens_the_menu(session, tray):
    first = tray.icons()[0][0]
    left = menu_of_click(session, first, 1)
    right = menu_of_click(session, first, 3)
    assert left, "a left click on a value opened no menu"
    assert left == right, f"the left click's menu ({left}) is not the right click's ({right})"


def wait_slots_in_order(shown, count, host):
    """Until SHOWN() (the slots a tray HOST draws, left to right) reads 1 to COUNT; what it read then."""
    seen = []

    def in_order():
        seen[:] = shown()
        return seen == list(range(1, count + 1))
    try:
        wait_until(in_order, "", 60, interval=0.5)
    except WaitTimeout:
        raise AssertionError(f"the {host} shows the slots {seen} left to right, not 1 to {count}") from None
    return seen
