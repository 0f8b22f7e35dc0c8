"""The start-up alerts on a virtual X server with a tray host: each in front of the windows that open while it
waits."""

import subprocess

from kelvaro_desktop.tray import Trayer
from kelvaro_desktop.waits import WaitTimeout, wait_until
from kelvaro_desktop.x11 import XServer, need_tools, screenshot, top_level_windows, window_info, xdotool


def stacked_windows(session):
    """The program's shown windows from the top of the stack down: ("alert" or "window", title, id)."""
    stack = []
    for window, title, _ in top_level_windows(session):
        kind = subprocess.run(["xprop", "-id", window, "_NET_WM_WINDOW_TYPE"], capture_output=True, text=True,
                              env=session.environment).stdout
        stack.append(("alert" if "_NET_WM_WINDOW_TYPE_DIALOG" in kind else "window", title, window))
    return stack


def alerts_on_top(stack):
    kinds = [kind for kind, _, _ in stack]
    return "alert" not in kinds[kinds.index("window"):] if "window" in kinds else True


def alert_in_front(session, which):
    """The alert (one at a time: the second waits for the answer to the first), the sensor window and the
    overview shown, the alert over them. An alert is raised a turn of the event loop after a window maps,
    later on a busy machine: a stack taken in between shows a window over it, and is looked at again; one
    that stays so is the fault. The alert's window."""
    seen = []

    def in_front():
        stack = stacked_windows(session)
        seen[:] = stack
        alerts = [w for kind, _, w in stack if kind == "alert"]
        assert len(alerts) <= 1, f"two alerts at once: {stack}"
        titles = [title for kind, title, _ in stack if kind == "window"]
        return alerts and any(t.startswith("Sensors") for t in titles) and \
            any(t.startswith("Sensor Overview") for t in titles) and alerts_on_top(stack)
    try:
        wait_until(in_front, f"the {which} alert in front", 60, interval=0.2)
    except WaitTimeout:
        pass
    screenshot(session, f"alerts-in-front-{which}")
    alerts = [w for kind, _, w in seen if kind == "alert"]
    assert len(alerts) == 1, f"the {which} alert was not shown: {seen}"
    assert any(t.startswith("Sensor Overview") for k, t, _ in seen if k == "window"), f"the overview was not shown: {seen}"
    assert alerts_on_top(seen), f"the {which} alert lies behind a window, from the top down: {seen}"
    return alerts[0]


def test_the_start_up_alerts_stay_in_front_of_the_windows(programs, session):
    """A first start on a computer without sensors asks twice (not a known computer, no sensors) while the
    sensor window and the overview open; each alert, one after the other, lies over every other window."""
    need_tools("xwininfo", "xprop", "trayer", "xdotool")
    # The alerts wait for an answer.
    session.environment.pop("KELVARO_NONINTERACTIVE", None)
    XServer(session)
    Trayer(session)
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", programs.computer("vm"))
    kelvaro.wait_ready("Kelvaro")
    first = alert_in_front(session, "first")
    # Answered, the first goes and the second comes, in front as well.
    xdotool(session, "windowfocus", first, "key", "Escape")
    wait_until(lambda: window_info(session, first).get("Map State") != "IsViewable", "the first alert was not answered")
    alert_in_front(session, "second")
    kelvaro.quit_cleanly("Kelvaro")
