"""The tray in a real XFCE panel (xfce4-panel's tray: a StatusNotifierWatcher and host) on a virtual X server,
on a session bus of the test's own."""

import signal

from kelvaro_desktop.sni import active_colours, items
from kelvaro_desktop.tray import expect_either_button_opens_the_menu, first_run_with_coloured_values
from kelvaro_desktop.waits import wait_until
from kelvaro_desktop.x11 import xdotool
from kelvaro_desktop.xfce import XfcePanel, pick_menu_bar_values

RGB = ("red", "green", "blue")


def none_active(session, pid):
    return items(session, pid, own=True) and not active_colours(session, pid, own=True)


def test_kelvaros_icons_follow_the_value_count_and_survive_the_panel(programs, session, x_server, session_bus):
    """The tray's value count changed from the Display menu 1 -> 3 -> 2 -> 3: that many drawn icons in the
    title's order each time; either button opens the menu the panel shows; with the panel stopped (SIGSTOP) a
    change of the count and the program's own answers go on, and the panel continued shows them; a restarted
    panel gets the icons again in order; one killed as at a logout leaves Kelvaro running, and it quits with
    status 0."""
    first_run_with_coloured_values(session, programs, 1)
    panel = XfcePanel(session, session_bus)
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", programs.computer("portable"))
    kelvaro.wait_ready("Kelvaro")
    pid = kelvaro.pid
    panel.wait_icons(1, ("red",))

    # The value count changed at run time, as the Display menu does.
    pick_menu_bar_values(session, pid, 3)
    panel.wait_icons(3, RGB)
    assert active_colours(session, pid), "the watcher lists no item of Kelvaro"
    bad = [i for i in items(session, pid) if i.status == "Active" and (not i.is_menu or i.menu == "/NO_DBUSMENU")]
    assert not bad, f"an item of Kelvaro is no menu: {bad}"
    expect_either_button_opens_the_menu(session, panel)
    pick_menu_bar_values(session, pid, 2)
    panel.wait_icons(2, RGB[:2])
    pick_menu_bar_values(session, pid, 3)
    panel.wait_icons(3, RGB)

    # A stopped panel holds nothing: the count changes and Kelvaro answers a host's reading of its icons.
    panel.send(signal.SIGSTOP)
    pick_menu_bar_values(session, pid, 2)
    wait_until(lambda: len(active_colours(session, pid, own=True)) == 2,
               "Kelvaro did not show two values with the panel stopped")
    panel.send(signal.SIGCONT)
    panel.wait_icons(2, RGB[:2])
    pick_menu_bar_values(session, pid, 3)
    panel.wait_icons(3, RGB)

    # A restarted panel gets the icons again, in order.
    panel.stop(signal.SIGTERM)
    panel.start()
    panel.wait_icons(3, RGB)

    # The panel killed as at a logout: Kelvaro hides its icons, changes its count and keeps running; a panel
    # that comes again shows the one icon left.
    panel.stop(signal.SIGKILL)
    pick_menu_bar_values(session, pid, 1)
    wait_until(lambda: none_active(session, pid), "Kelvaro did not hide its icons with the panel gone")
    panel.start()
    panel.wait_icons(1, ("red",))
    kelvaro.quit_cleanly("Kelvaro")


def test_lites_icons_survive_a_stopped_a_restarted_and_a_killed_panel(programs, session, x_server, session_bus):
    """Lite's three icons in the title's order; either button opens its menu; with the panel stopped its icons
    answer a host's reading and the continued panel shows them; a restarted panel gets them again; one killed
    as at a logout makes Lite hide them and keep running, and a panel that comes again shows them."""
    first_run_with_coloured_values(session, programs)
    panel = XfcePanel(session, session_bus)
    lite = session.start("lite", programs.lite, "--simulate", programs.computer("portable"))
    lite.wait_ready("KelvaroLite")
    pid = lite.pid
    panel.wait_icons(3, RGB)
    expect_either_button_opens_the_menu(session, panel)
    # The pointer off the icons: a hovered icon's button is drawn lighter.
    xdotool(session, "mousemove", 0, 799)

    panel.send(signal.SIGSTOP)
    wait_until(lambda: len(active_colours(session, pid, own=True)) == 3,
               "Lite's icons did not answer with the panel stopped")
    panel.send(signal.SIGCONT)
    panel.wait_icons(3, RGB)

    panel.stop(signal.SIGTERM)
    panel.start()
    panel.wait_icons(3, RGB)

    panel.stop(signal.SIGKILL)
    wait_until(lambda: none_active(session, pid), "Lite did not hide its icons with the panel gone")
    panel.start()
    panel.wait_icons(3, RGB)
    lite.quit_cleanly("KelvaroLite")
