"""Virtual X servers of a test's own."""

import os
import signal
import subprocess
import shutil

import pytest

from .waits import wait_until


def need_tools(*tools):
    """Skips the test where one of TOOLS is not installed."""
    for tool in tools:
        if not shutil.which(tool):
            pytest.skip(f"{tool} is not installed")


class XServer:
    """Xvfb on a display it picks itself; DISPLAY of the session names it once it accepts clients."""

    def __init__(self, session, size="1280x800", name="xvfb"):
        if not shutil.which("Xvfb"):
            pytest.skip("Xvfb is not installed")
        # Xvfb writes the display's number once it accepts clients. Its clients come through the abstract
        # socket alone: a server that starts meanwhile and tries the same number unlinks the socket file
        # again as it gives up that number, which under load left clients no way in.
        self.process, number = session.start_announcing(name, "Xvfb", "-displayfd", "{fd}", "-screen", "0",
                                                        f"{size}x24", "-nolisten", "tcp", "-nolisten", "unix",
                                                        what="Xvfb")
        # Killed, Xvfb leaves its lock file, and of two servers that start meanwhile both may take that
        # display: the socket of one then leads to the other.
        self.process.end_signal = signal.SIGTERM
        self.display = f":{number}"
        session.environment["DISPLAY"] = self.display

    def stop(self):
        self.process.kill()


def xdotool(session, *arguments):
    """xdotool's output on the session's display, a word each; none where it found nothing. What it printed
    counts whatever its status: a search ends in an error where a window went while it looked (a tray host
    killed takes its windows), after it printed those it found."""
    done = subprocess.run(["xdotool", *map(str, arguments)], capture_output=True, text=True,
                          env=session.environment)
    return done.stdout.split()


def shown_windows(session, name, pid=None):
    """The viewable windows whose title matches the regular expression NAME, of PID if given."""
    return xdotool(session, "search", "--all", "--onlyvisible", *(["--pid", pid] if pid else []), "--name", name)


def geometry(session, window):
    """(x, y, width, height) of WINDOW on the screen."""
    fields = dict(line.split("=", 1) for line in xdotool(session, "getwindowgeometry", "--shell", window))
    return tuple(int(fields[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))


def height(session, window):
    info = subprocess.run(["xwininfo", "-id", str(window)], capture_output=True, text=True,
                          env=session.environment).stdout
    return next((int(l.split()[1]) for l in info.splitlines() if l.strip().startswith("Height:")), 0)


def open_menu(session, pid, window, x, y, button):
    """Opens a menu with a click into WINDOW of PID and waits until it is on screen; returns its window. Keys
    are sent to that window, not typed: the menu takes the keyboard only a moment after it is shown, later on
    a busy machine. None where WINDOW went before the click (one its program replaced: a busy machine shows
    that)."""
    def shown():
        return set(xdotool(session, "search", "--onlyvisible", "--pid", pid))
    before = shown()
    done = subprocess.run(["xdotool", "mousemove", "--window", str(window), str(x), str(y), "click", str(button)],
                          capture_output=True, env=session.environment)
    if done.returncode != 0:
        return None
    # Taller than the tooltip the pointer raises over an icon.
    return wait_until(lambda: next((w for w in shown() - before if height(session, w) > 40), None),
                      "no menu opened", 30)


def screenshot(session, name):
    """The screen into $KELVARO_SCREENSHOT_DIR/NAME.png, when asked for: pictures for people to look at."""
    folder = os.environ.get("KELVARO_SCREENSHOT_DIR")
    if folder:
        subprocess.run(["import", "-window", "root", f"{folder}/{name}.png"], env=session.environment,
                       capture_output=True)


def window_info(session, window):
    """xwininfo's fields of WINDOW: "Absolute upper-left X", "Width", "Map State", ..."""
    info = subprocess.run(["xwininfo", "-id", str(window)], capture_output=True, text=True,
                          env=session.environment).stdout
    return dict(line.strip().split(": ", 1) for line in info.splitlines() if ": " in line)


def top_level_windows(session, klass="Kelvaro", shape=False):
    """The viewable top-level windows of the program of WM_CLASS KLASS, from the top of the stack down (as
    xwininfo lists the root's children): (window, title, xwininfo's fields) each."""
    tree = subprocess.run(["xwininfo", "-root", "-children"], capture_output=True, text=True,
                          env=session.environment).stdout
    found = []
    for line in tree.splitlines():
        if f'("{klass}" "{klass}")' not in line:
            continue
        window = line.split()[0]
        out = subprocess.run(["xwininfo", "-id", window, *(["-shape"] if shape else [])], capture_output=True,
                             text=True, env=session.environment).stdout
        info = {k: v.strip() for k, v in (l.strip().split(": ", 1) for l in out.splitlines() if ": " in l)}
        if info.get("Map State") != "IsViewable":
            continue
        title = next((l.split('"', 1)[1].rsplit('"', 1)[0] for l in out.splitlines()
                      if l.startswith("xwininfo: Window id:") and '"' in l), "")
        found.append((window, title, info))
    return found


def menus(session, pid):
    """The menus PID shows: its override-redirect windows larger than a tooltip's 40x40, xwininfo's fields of
    each. A window that shows nothing (mutter's input-only guard window over the screen) is none."""
    found = []
    for window in xdotool(session, "search", "--onlyvisible", "--pid", pid, "--name", ""):
        info = window_info(session, window)
        if info.get("Override Redirect State") == "yes" and info.get("Class") != "InputOnly" and \
                int(info.get("Width", 0)) > 40 and \
                int(info.get("Height", 0)) > 40:
            found.append(info)
    return found
