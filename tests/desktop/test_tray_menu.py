"""The tray's menu where the program knows nothing of the desktop but its output's size: natively on weston,
whose panel no client sees and which places the menu's window itself."""

from kelvaro_desktop.sni import context_menu, items, need_dbus, start_test_watcher
from kelvaro_desktop.waits import wait_until
from kelvaro_desktop.wayland import Weston

OUTPUT_WIDTH, OUTPUT_HEIGHT = 1600, 1000


def test_the_menu_of_many_values_lies_within_the_output(programs, session, session_bus):
    """Weston (headless, 1600x1000, its panel along the top) with the test watcher of the driver, and
    Kelvaro on the simulated portable, whose tray menu has a line for each of its many values before the
    program's commands. Asked for the menu as a host without menus of its own asks (ContextMenu), the menu's
    window lies within the output where weston placed it, so that every line, "Preferences…" and "Quit
    Kelvaro" last, is on the screen."""
    need_dbus()
    weston = Weston(session, "native")
    start_test_watcher(session)
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", programs.computer("portable"))
    kelvaro.wait_ready("Kelvaro")
    item = wait_until(lambda: items(session, kelvaro.pid), "Kelvaro registered no item with the watcher")[0]

    def untitled():
        # The menu's window takes the program's name; the program's other windows have titles of their own.
        return [edges for title, edges in weston.windows() if title == "Kelvaro"]
    before = len(untitled())
    context_menu(session, item.owner, item.path, OUTPUT_WIDTH - 15, 10)
    seen = []

    def shown_and_settled():
        menus = untitled()
        seen.append(menus[0] if len(menus) > before else None)
        return seen[-1] is not None and len(seen) > 1 and seen[-2] == seen[-1]
    wait_until(shown_and_settled, "the tray's menu was not shown", 60, interval=0.25,
               abort=lambda: None if kelvaro.running() else "Kelvaro ended")
    weston.screenshot("wayland-native-tray-menu")
    x1, y1, x2, y2 = seen[-1]
    print(f"the tray's menu: {x2 - x1}x{y2 - y1} at ({x1},{y1})")
    assert x1 >= 0 and y1 >= 0 and x2 <= OUTPUT_WIDTH and y2 <= OUTPUT_HEIGHT, \
        f"the tray's menu, {x2 - x1}x{y2 - y1} at ({x1},{y1}), reaches past the {OUTPUT_WIDTH}x{OUTPUT_HEIGHT} output"
    kelvaro.quit_cleanly("Kelvaro with its tray menu open")
