"""The desktops users run, and what their window managers show of the program's windows: an XFCE session
(xfce4-session with xfwm4 compositing and xfce4-panel) that logs out and in again, openbox with tint2; the
managed windows with their frames, the rules those frames keep, the alerts and the screen display."""

import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

from .waits import WaitTimeout, wait_until
from .x11 import height, menus, need_tools, screenshot, xdotool

COMPOSITOR_RUNNING = Path(__file__).resolve().with_name("compositor_running.py")

# The sensor window's menu bar, below its title bar: nothing may lie over it.
MENU_BAR = 24


def xprop(session, *arguments):
    return subprocess.run(["xprop", *map(str, arguments)], capture_output=True, text=True,
                          env=session.environment).stdout


def window_ids(text):
    """The window ids of xprop's "... window id # 0x1, 0x2" line, as numbers."""
    _, _, ids = text.partition("window id # ")
    return [int(i, 16) for i in ids.replace(",", " ").split() if i.startswith("0x")]


@dataclass(frozen=True)
class Managed:
    """A managed window: the client's place and size, the frame's extents, the title."""
    id: int
    x: int
    y: int
    width: int
    height: int
    left: int
    right: int
    top: int
    bottom: int
    title: str

    def __str__(self):
        return (f"{self.id:#x} {self.x} {self.y} {self.width} {self.height} {self.left} {self.right} {self.top} "
                f"{self.bottom} {self.title}")


def frame_extents(session, window):
    """The window manager's frame around client WINDOW: (left, right, top, bottom), zeros without one."""
    _, _, values = xprop(session, "-id", window, "_NET_FRAME_EXTENTS").partition(" = ")
    numbers = [int(v) for v in values.replace(",", " ").split()]
    return tuple(numbers) if len(numbers) == 4 else (0, 0, 0, 0)


def managed_windows(session, klass="Kelvaro"):
    """The viewable windows of WM_CLASS KLASS in the window manager's client list, in its order."""
    found = []
    for window in window_ids(xprop(session, "-root", "_NET_CLIENT_LIST")):
        if f'"{klass}"' not in xprop(session, "-id", window, "WM_CLASS"):
            continue
        info = subprocess.run(["xwininfo", "-id", str(window)], capture_output=True, text=True,
                              env=session.environment).stdout
        fields, title = {}, ""
        for line in info.splitlines():
            if line.startswith("xwininfo: Window id:") and '"' in line:
                title = line.split('"', 1)[1].rsplit('"', 1)[0]
            elif ": " in line:
                key, value = line.strip().split(": ", 1)
                fields[key] = value.strip()
        if fields.get("Map State") != "IsViewable":
            continue
        found.append(Managed(window, int(fields["Absolute upper-left X"]), int(fields["Absolute upper-left Y"]),
                             int(fields["Width"]), int(fields["Height"]), *frame_extents(session, window), title))
    return found


def program_windows(session):
    """Kelvaro's managed windows but the screen display (titled as the program)."""
    return [w for w in managed_windows(session) if w.title != "Kelvaro"]


def window_titles(session):
    """The titles of Kelvaro's managed windows but the screen display, each up to its first " - ", sorted."""
    return sorted(w.title.split(" - ")[0] for w in program_windows(session))


def work_area(session):
    """The work area of the first desktop: (x, y, width, height); None before the window manager sets it."""
    _, _, values = xprop(session, "-root", "_NET_WORKAREA").partition(" = ")
    numbers = [int(v) for v in values.replace(",", " ").split()[:4]]
    return tuple(numbers) if len(numbers) == 4 else None


def frame_problems(windows, area, mode):
    """What is wrong with the frames of WINDOWS (Managed) in the work AREA, none when all is well. Mode
    "apart": every frame within the work area, no two over one another. Mode "heads": frames may overlap and a
    lower edge may leave the work area, but no title bar lies within the other windows' frames (a third of it,
    100 pixels at least, stays clear to take hold of), nor anything over the sensor window's title and menu
    bar."""
    assert mode in ("apart", "heads"), mode
    ax, ay, aw, ah = area
    frames = []
    for w in windows:
        head = w.top + (MENU_BAR if w.title == "Sensors" else 0)
        frames.append((w.x - w.left, w.y - w.top, w.width + w.left + w.right, w.height + w.top + w.bottom, w.title,
                       head))

    def named(f):
        return f"'{f[4]}' framed {f[2]}x{f[3]}+{f[0]}+{f[1]}"

    def meet(a, c):
        return a[0] < c[0] + c[2] and c[0] < a[0] + a[2] and a[1] < c[1] + c[3] and c[1] < a[1] + a[3]

    def clear_run(x, width, over):
        covered = sorted((max(c[0], x), min(c[0] + c[2], x + width)) for c in over)
        longest, start = 0, x
        for left, right in covered:
            if left < right:
                longest, start = max(longest, left - start), max(start, right)
        return max(longest, x + width - start)

    found = []
    for f in frames:
        x, y, w, h, _, head = f
        bottom = y + (head if mode == "heads" else h)
        if x < ax or y < ay or x + w > ax + aw or bottom > ay + ah:
            found.append(f"{named(f)} runs past the work area {aw}x{ah}+{ax}+{ay}")
    if mode == "heads":
        for a in frames:
            others = [c for c in frames if c is not a]
            if a[4] == "Sensors":
                for c in others:
                    if meet((a[0], a[1], a[2], a[5]), c):
                        found.append(f"{named(c)} lies over the title or menu bar of {named(a)}")
            bar = (a[0], a[1], a[2], a[5] - (MENU_BAR if a[4] == "Sensors" else 0))
            over = [c for c in others if meet(bar, c)]
            if bar[3] > 0 and clear_run(a[0], a[2], over) < min(a[2], max(100, a[2] // 3)):
                found.append(f"the title bar of {named(a)} lies within " + ", ".join(named(c) for c in over))
    else:
        for i, a in enumerate(frames):
            for c in frames[i + 1:]:
                if meet(a, c):
                    found.append(f"{named(a)} and {named(c)} overlap")
    return found


def check_frames(session, count, mode, name):
    """Waits (a minute at most) until COUNT of Kelvaro's windows (the screen display left out) are on screen
    with their frames as MODE of frame_problems wants them, and takes the picture NAME; the windows. Fails with
    what is wrong."""
    seen = {}

    def framed():
        seen["windows"] = program_windows(session)
        seen["area"] = work_area(session)
        seen["problems"] = frame_problems(seen["windows"], seen["area"], mode) if seen["area"] else \
            ["the window manager set no work area"]
        return len(seen["windows"]) == count and not seen["problems"]
    try:
        wait_until(framed, f"{count} windows framed in place", 60, interval=0.2)
    except WaitTimeout as e:
        screenshot(session, name)
        raise AssertionError(f"{name}: {e}:\n" + "\n".join(seen.get("problems", [])) + "\n" +
                             "\n".join(map(str, seen.get("windows", [])))) from None
    screenshot(session, name)
    print(f"{name} in the work area {seen['area']}:\n" + "\n".join(f"  {w}" for w in seen["windows"]))
    return seen["windows"]


def wait_titles(session, count, what, timeout=60):
    """Until Kelvaro shows COUNT windows but the screen display; their titles as window_titles gives them."""
    seen = []

    def enough():
        seen[:] = window_titles(session)
        return len(seen) == count
    wait_until(enough, what, timeout, interval=0.2)
    return list(seen)


def focus_on(session, window):
    """Asks the window manager for the focus of WINDOW, as a click would; a busy openbox may turn that down, so
    the focus is then set directly."""
    for how in ("windowactivate", "windowfocus"):
        try:
            done = subprocess.run(["xdotool", how, "--sync", str(window)], capture_output=True,
                                  env=session.environment, timeout=5)
        except subprocess.TimeoutExpired:
            continue
        if done.returncode == 0:
            return True
    return False


def key_in(session, window, key):
    """Gives WINDOW the keyboard focus and types KEY there."""
    wait_until(lambda: focus_on(session, window), f"window {window:#x} did not get the focus", 30)
    xdotool(session, "key", key)


def active_window(session):
    return next(iter(window_ids(xprop(session, "-root", "_NET_ACTIVE_WINDOW"))), None)


def alert_windows(session):
    """Kelvaro's alerts on screen."""
    return [w for w in managed_windows(session)
            if "_NET_WM_WINDOW_TYPE_DIALOG" in xprop(session, "-id", w.id, "_NET_WM_WINDOW_TYPE")]


def check_alerts_one_after_the_other(session, programs, computer, name):
    """The two start-up alerts of a first start on COMPUTER (without sensors) shown one after the other: never
    two at once, where the window manager would put the second over most of the first; the first answered
    (Escape), the second follows. NAME names the pictures."""
    interactive = dict(session.environment)
    interactive.pop("KELVARO_NONINTERACTIVE", None)
    saved, session.environment = session.environment, interactive
    try:
        kelvaro = session.start("alerts", programs.kelvaro, "--simulate", computer)
    finally:
        session.environment = saved

    def one_alert(label, answered):
        # Until the alert is shown with the windows opened meanwhile, by when both alerts have been asked.
        def shown():
            alerts = alert_windows(session)
            assert len(alerts) <= 1, "two alerts at once:\n" + "\n".join(map(str, alerts))
            titles = window_titles(session)
            if alerts and alerts[0].id != answered and "Sensors" in titles and \
                    any(t.startswith("Sensor Overview") for t in titles):
                return alerts[0].id
            return None
        return wait_until(shown, f"the {label} alert was not shown", 60, interval=0.2,
                          abort=lambda: None if kelvaro.running() else f"Kelvaro ended before the {label} alert")

    first = one_alert("first", None)
    screenshot(session, f"{name}-first-alert")
    key_in(session, first, "Escape")
    second = one_alert("second", first)
    screenshot(session, f"{name}-second-alert")
    key_in(session, second, "Escape")
    kelvaro.wait_ready("Kelvaro")
    left = alert_windows(session)
    assert not left, "an alert is left after both were answered:\n" + "\n".join(map(str, left))
    kelvaro.quit_cleanly("Kelvaro")


def alert_panel_at_start(session, programs, computer="portable"):
    """A first run's preferences (the sensor window and the overview open), with one gauge over its limit from
    the start, whose alert shows the Sensor Alert panel and does nothing else."""
    session.write_preferences({"PreferencesVersion": 3, "SensorWindowOpen": True, "OverviewOpen": True})
    first = session.start("gauges", programs.kelvaro, "--simulate", programs.computer(computer))
    first.wait_ready("Kelvaro")
    first.quit_cleanly("Kelvaro")
    stored = session.read_preferences()
    machine = next(m for m in stored["MachinePreferences"].values() if m.get("AvailableGauges"))
    gauge_id, gauge = next((i, g) for i, g in machine["AvailableGauges"].items() if g.get("SensorEnabled", True))
    gauge.update(HighTriggerEnabled=True, HighThreshold=-1000.0)
    machine.update(Triggers=[gauge_id], AlertOpensPanel=True, AlertOpensObject=False, AlertPlaySound=False,
                   AlertUsesVoice=False, AlertSendsGrowl=False)
    session.write_preferences(stored)


def screen_display(session):
    """Kelvaro's screen display on screen (its window titled as the program), None while it is hidden."""
    return next((w for w in managed_windows(session) if w.title == "Kelvaro" and w.width > 1), None)


def check_screen_display(session, sensors, name):
    """Ctrl+D in the sensor window SENSORS shows the screen display: no task bar or pager lists it, the keyboard
    stays with the sensor window (a second Ctrl+D hides it), and clicks in the gaps of its text reach the window
    below (xev, under the whole display, reports the presses it gets). The picture NAME is taken while it
    shows."""
    need_tools("xev")
    key_in(session, sensors, "ctrl+d")
    display = wait_until(lambda: screen_display(session), "Ctrl+D showed no screen display", 30)
    state = xprop(session, "-id", display.id, "_NET_WM_STATE")
    for wanted in ("_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"):
        assert wanted in state, f"the screen display lacks {wanted}: {state}"
    # The keys go to the window with the focus.
    xdotool(session, "key", "ctrl+d")
    wait_until(lambda: screen_display(session) is None,
               "the screen display took the keyboard: a second Ctrl+D did not hide it", 30)

    key_in(session, sensors, "ctrl+d")
    d = wait_until(lambda: screen_display(session), "Ctrl+D showed no screen display again", 30)
    place = f"{d.width}x{d.height}+{d.x}+{d.y}"
    xev = session.start("xev", "xev", "-geometry", place, "-name", "below")
    wait_until(lambda: xdotool(session, "search", "--onlyvisible", "--name", "^below$"),
               f"the window below the screen display {place} did not show", 30)
    for fx in (0.1, 0.3, 0.5, 0.7, 0.9):
        for fy in (0.1, 0.3, 0.5, 0.7, 0.9):
            xdotool(session, "mousemove", int(d.x + d.width * fx), int(d.y + d.height * fy), "click", 1)
    wait_until(lambda: any(line.startswith("ButtonPress") for line in xev.output().splitlines()),
               "none of 25 clicks over the screen display reached the window below it", 30)
    screenshot(session, name)
    xev.kill()
    key_in(session, sensors, "ctrl+d")
    wait_until(lambda: screen_display(session) is None, "Ctrl+D did not hide the screen display", 30)


def menu_within(session, pid, before, timeout=5):
    """A menu of PID not among the windows BEFORE (one taller than a tooltip) shown within TIMEOUT, or None."""
    def shown():
        new = set(xdotool(session, "search", "--onlyvisible", "--pid", pid)) - before
        return next((w for w in sorted(new) if height(session, w) > 40), None)
    try:
        return wait_until(shown, "a menu", timeout)
    except WaitTimeout:
        return None


def menu_bar_menu(session, pid, window, lefts=0):
    """Opens the first menu of the menu bar of WINDOW (of PID) with a click and goes LEFTS menus to the left
    of it with Left (1 = the last menu, Window); the menu's window. None where a menu did not open (a click the
    window manager took to give the focus, say): the caller tries again."""
    before = set(xdotool(session, "search", "--onlyvisible", "--pid", pid))
    done = subprocess.run(["xdotool", "mousemove", "--window", str(window), "30", "8", "click", "1"],
                          capture_output=True, env=session.environment)
    if done.returncode != 0:
        return None
    menu = menu_within(session, pid, before)
    for _ in range(lefts):
        if menu is None:
            break
        before = set(xdotool(session, "search", "--onlyvisible", "--pid", pid))
        xdotool(session, "key", "--window", menu, "Left")
        menu = menu_within(session, pid, before)
    if menu is None:
        close_menus(session, pid)
    return menu


def close_menus(session, pid):
    """Escape until PID shows no menu."""
    def closed():
        if not menus(session, pid):
            return True
        xdotool(session, "key", "Escape")
        return False
    wait_until(closed, "the menus did not close on Escape", 30, interval=0.2)


def window_menu_item(session, pid, sensors, count):
    """Chooses the item COUNT up from the bottom of the Window menu of the sensor window SENSORS (of PID): the
    menu bar's first menu opened with a click, the last one (Window) reached from it with Left. False where a
    menu did not open: the caller tries again."""
    menu = menu_bar_menu(session, pid, sensors, 1)
    if menu is None:
        return False
    xdotool(session, "key", "--window", menu, *["Up"] * count, "Return")
    return True


def close_windows(session, titled, key="ctrl+w"):
    """Closes every window of Kelvaro whose title TITLED (a function of the title) accepts with KEY, and waits
    until each is gone. A window that does not close on Ctrl+W is tried with Escape (which closes the alerts)
    before the failure is told."""
    for _ in range(20):
        window = next((w for w in managed_windows(session) if titled(w.title)), None)
        if window is None:
            return
        key_in(session, window.id, key)
        try:
            wait_until(lambda: window.id not in window_ids(xprop(session, "-root", "_NET_CLIENT_LIST")),
                       "closed", 30)
            continue
        except WaitTimeout:
            if key != "ctrl+w":
                raise AssertionError(f"the window '{window.title}' did not close on {key}") from None
        key_in(session, window.id, "Escape")
        try:
            wait_until(lambda: window.id not in window_ids(xprop(session, "-root", "_NET_CLIENT_LIST")),
                       "closed", 30)
        except WaitTimeout:
            raise AssertionError(f"the window '{window.title}' closed neither on Ctrl+W nor on Escape") from None
        raise AssertionError(f"the window '{window.title}' did not close on Ctrl+W (Escape closed it)")
    raise AssertionError("windows keep coming while they are closed")


# --- openbox with tint2 -------------------------------------------------------------------------------------

def window_manager_runs(session):
    return "window id" in xprop(session, "-root", "_NET_SUPPORTING_WM_CHECK")


class OpenboxTint2:
    """openbox without a session manager, and tint2's task bar, which takes its strip off the work area of a
    screen SCREEN_HEIGHT tall."""

    def __init__(self, session, screen_height=800):
        need_tools("openbox", "tint2", "xprop", "xwininfo", "xdotool")
        self.openbox = session.start("openbox", "openbox", "--sm-disable")
        wait_until(lambda: window_manager_runs(session), "openbox did not start", 30,
                   abort=lambda: None if self.openbox.running() else "openbox ended")
        self.tint2 = session.start("tint2", "tint2")
        wait_until(lambda: (work_area(session) or (0, 0, 0, screen_height))[3] < screen_height,
                   "tint2's panel reserved no room", 30,
                   abort=lambda: None if self.tint2.running() else "tint2 ended")


# --- XFCE ---------------------------------------------------------------------------------------------------

# The session's clients: the window manager, the settings daemon and the panel (the desktop and the file
# manager of the default session are left out: not installed everywhere, and nothing here needs them).
SESSION_SETTINGS = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-session" version="1.0">
  <property name="general" type="empty">
    <property name="FailsafeSessionName" type="string" value="Failsafe"/>
    <property name="SaveOnExit" type="bool" value="true"/>
    <property name="LockCommand" type="string" value=""/>
  </property>
  <property name="sessions" type="empty">
    <property name="Failsafe" type="empty">
      <property name="IsFailsafe" type="bool" value="true"/>
      <property name="Count" type="int" value="3"/>
      <property name="Client0_Command" type="array"><value type="string" value="xfwm4"/></property>
      <property name="Client0_Priority" type="int" value="15"/>
      <property name="Client0_PerScreen" type="bool" value="false"/>
      <property name="Client1_Command" type="array"><value type="string" value="xfsettingsd"/></property>
      <property name="Client1_Priority" type="int" value="20"/>
      <property name="Client1_PerScreen" type="bool" value="false"/>
      <property name="Client2_Command" type="array"><value type="string" value="xfce4-panel"/></property>
      <property name="Client2_Priority" type="int" value="25"/>
      <property name="Client2_PerScreen" type="bool" value="false"/>
    </property>
  </property>
</channel>
"""
COMPOSITING = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfwm4" version="1.0">
  <property name="general" type="empty">
    <property name="use_compositing" type="bool" value="true"/>
  </property>
</channel>
"""


class XfceSession:
    """xfce4-session on the session's display and bus (its folders shared with the bus), logged in and out as a
    user does; the settings are written before it first runs."""

    def __init__(self, session):
        need_tools("xfce4-session", "xfce4-session-logout", "xfwm4", "xfsettingsd", "xfce4-panel", "xprop",
                   "xwininfo", "xdotool")
        self.session = session
        self.process = None
        folder = Path(session.environment["XDG_CONFIG_HOME"]) / "xfce4/xfconf/xfce-perchannel-xml"
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "xfce4-session.xml").write_text(SESSION_SETTINGS)
        (folder / "xfwm4.xml").write_text(COMPOSITING)

    def composites(self):
        """xfwm4 of this session runs, manages windows and composites."""
        s = self.session
        return window_manager_runs(s) and "_NET_CLIENT_LIST" in xprop(s, "-root", "_NET_CLIENT_LIST") and \
            bool(s.copies_of("xfwm4")) and \
            subprocess.run(["/usr/bin/python3", COMPOSITOR_RUNNING], env=s.environment,
                           capture_output=True).returncode == 0

    def login(self, name):
        """Starts xfce4-session (its output in NAME.out and NAME.err: the programs it starts write there too)
        and waits until xfwm4 composites and the panel is on screen."""
        self.process = self.session.start(name, "xfce4-session")

        def ended():
            return None if self.process.running() else f"xfce4-session ended ({self.process.status()})"
        wait_until(self.composites, "xfwm4 did not composite", 120, abort=ended)
        wait_until(lambda: managed_windows(self.session, "xfce4-panel"), "the panel did not show", 120, abort=ended)
        return self.process

    def session_manager(self):
        """SESSION_MANAGER as xfce4-session gives it to its clients: what a program started in it finds."""
        for pid in self.session.copies_of("xfwm4"):
            try:
                environ = Path(f"/proc/{pid}/environ").read_bytes().split(b"\0")
            except OSError:
                continue
            for entry in environ:
                if entry.startswith(b"SESSION_MANAGER="):
                    return entry.split(b"=", 1)[1].decode()
        raise AssertionError("the session gives its clients no SESSION_MANAGER")

    def ask_logout(self, *options):
        """Asks for the logout as the session's menu does."""
        done = subprocess.run(["xfce4-session-logout", "--logout", *options], capture_output=True, text=True,
                              env=self.session.environment)
        assert done.returncode == 0, f"xfce4-session-logout failed: {done.stdout}{done.stderr}"

    def logout(self, timeout=60):
        """Logs out as the session's menu does; until xfce4-session has ended."""
        self.ask_logout()
        self.process.wait_ended("xfce4-session did not end after the logout", timeout)


def sensor_window_focused(session):
    sensors = next((w.id for w in managed_windows(session) if w.title == "Sensors"), None)
    return sensors is not None and active_window(session) == sensors


def focus_stays_on_sensor_window(session, keep=1.0):
    """The sensor window, the main one, has the keyboard focus and keeps it for KEEP seconds: xfwm4 focuses
    each window it maps, and Qt activates a window shown before its map at the map."""
    if not sensor_window_focused(session):
        return False
    end = time.monotonic() + keep
    while time.monotonic() < end:
        time.sleep(0.1)
        if not sensor_window_focused(session):
            return False
    return True


def expect_focus_on_sensor_window(session, when):
    try:
        wait_until(lambda: focus_stays_on_sensor_window(session), "the focus with the sensor window", 30, 0.2)
    except WaitTimeout:
        active = active_window(session)
        raise AssertionError(f"{when} the focus is with {active and hex(active)}, not the sensor window:\n" +
                             "\n".join(map(str, managed_windows(session)))) from None
