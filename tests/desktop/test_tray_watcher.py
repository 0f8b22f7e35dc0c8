"""A StatusNotifierWatcher that comes after Kelvaro, as a tray does at login (the test watcher of
kelvaro_desktop/sni_watcher.py on a session bus of the test's own)."""

import signal

import pytest

from kelvaro_desktop.sni import active_colours, context_menu, items, menu_labels, need_dbus, start_test_watcher
from kelvaro_desktop.tray import first_run_with_coloured_values
from kelvaro_desktop.waits import wait_until
from kelvaro_desktop.x11 import XServer, menus, need_tools, xdotool


@pytest.mark.parametrize("platform", ["xcb", "offscreen"])
def test_a_late_watcher_gets_the_items_in_order_and_a_stopped_one_holds_nothing(programs, session, session_bus,
                                                                                 platform):
    """On X (xcb) or on a platform without X (offscreen, as on Wayland): Kelvaro, started with three values
    and no tray, registers three items with the watcher that comes later, the last slot first; their menu is
    exported for the host, and where a host without one asks for it (ContextMenu at a point) Kelvaro's menu
    opens there. A stopped watcher holds neither a quit nor a start: Kelvaro quits with status 0 and starts
    again, its icons answering, and the watcher continued gets them."""
    need_dbus()
    need_tools("xdotool", "xwininfo")
    XServer(session)
    if platform != "xcb":
        session.environment["QT_QPA_PLATFORM"] = platform
    session_bus.share_folders(session)
    first_run_with_coloured_values(session, programs)

    # No tray at the start; the watcher comes once Kelvaro runs.
    computer = programs.computer("portable")
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", computer)
    kelvaro.wait_ready("Kelvaro")
    watcher = start_test_watcher(session)
    wait_until(lambda: len(active_colours(session, kelvaro.pid)) == 3,
               "Kelvaro registered no three items with the late watcher")
    assert active_colours(session, kelvaro.pid) == ["blue", "green", "red"], \
        f"the items registered, first to last: {items(session, kelvaro.pid)} (expected the last slot first)"
    listed = items(session, kelvaro.pid)
    assert all(i.is_menu and i.menu != "/NO_DBUSMENU" for i in listed), f"an item is no menu: {listed}"

    # The exported menu, as a host reads it: the value lines and the application's commands.
    owner = [l.split()[1] for l in watcher.output().splitlines() if l.startswith("registered")][-1]
    labels = [label for _, label in menu_labels(session, owner, listed[0].menu)]
    assert "Quit Kelvaro" in labels, f"the exported menu has no Quit Kelvaro: {labels}"
    assert "Sensor Window" in labels, f"the exported menu has no Sensor Window: {labels}"

    # A host without a menu of its own asks for it at a point: on X the menu opens there (moved as far as it
    # must to fit the screen: it covers the point).
    if platform == "xcb":
        context_menu(session, owner, listed[0].path, 300, 200)
        shown = wait_until(lambda: menus(session, kelvaro.pid), "no menu opened on ContextMenu", 30)[0]
        x, y = int(shown["Absolute upper-left X"]), int(shown["Absolute upper-left Y"])
        w, h = int(shown["Width"]), int(shown["Height"])
        assert x <= 300 <= x + w and y <= 200 <= y + h, \
            f"the menu (x y width height: {x} {y} {w} {h}) does not cover the host's point 300 200"
        xdotool(session, "key", "Escape")
        wait_until(lambda: not menus(session, kelvaro.pid), "the menu did not close", 30)

    # A stopped watcher holds neither the quit nor the next start.
    watcher.popen.send_signal(signal.SIGSTOP)
    kelvaro.quit_cleanly("Kelvaro with the watcher stopped")
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", computer)
    kelvaro.wait_ready("Kelvaro")
    wait_until(lambda: len(active_colours(session, kelvaro.pid, own=True)) == 3,
               "Kelvaro's icons did not answer with the watcher stopped")
    watcher.popen.send_signal(signal.SIGCONT)
    wait_until(lambda: len(active_colours(session, kelvaro.pid)) == 3, "the continued watcher did not get the icons")
    kelvaro.quit_cleanly("Kelvaro")
