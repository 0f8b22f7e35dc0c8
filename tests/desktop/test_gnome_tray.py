"""The tray in GNOME Shell's panel (its AppIndicator extension: the StatusNotifierWatcher and host), as its
user sees it: headless on Wayland, the programs on its XWayland."""

import pytest

from kelvaro_desktop import tray
from kelvaro_desktop.gnome import SCREEN_HEIGHT, SCREEN_WIDTH, pixels
from kelvaro_desktop.tray import SLOT_HUES, first_run_with_coloured_values, hue_colour, slot_of_hue, slot_of_pixel
from kelvaro_desktop.waits import wait_until
from kelvaro_desktop.xfce import pick_menu_bar_values

COLOURS = tuple(hue_colour(hue) for hue in SLOT_HUES)


def shown_slots(shell, pid, name):
    """The slots of PID's icons as the panel draws them, left to right (each told by its colour; None for
    one of no slot colour), with a screenshot NAME of the screen."""
    icons = shell.icons_of(pid)
    shot = shell.screenshot(name)
    return [slot_of_hue(p for row in pixels(shot, icon["icon_box"]) for p in row) for icon in icons]


def wait_slots_in_order(shell, pid, count, name):
    return tray.wait_slots_in_order(lambda: shown_slots(shell, pid, name), count, "panel")


@pytest.mark.parametrize("program", ["Kelvaro", "KelvaroLite"])
def test_the_panel_shows_the_slots_in_order_at_the_start_and_after_each_count(programs, session, gnome_shell,
                                                                             program):
    """Eight slot colours; three values at the start, then Kelvaro's count changed from Display > Menu Bar
    3 -> 2 -> 6 -> 8 -> 3: each time, the panel shows slot 1 leftmost and the slots in the list's order left
    to right. Lite, started twice with its three values, shows them in order both times."""
    first_run_with_coloured_values(session, programs, 3, COLOURS)
    binary = programs.kelvaro if program == "Kelvaro" else programs.lite
    starts = 1 if program == "Kelvaro" else 2
    for start in range(1, starts + 1):
        process = session.start(f"{program}-{start}", binary, "--simulate", programs.computer("portable"))
        process.wait_ready(program)
        gnome_shell.icons_of(process.pid, 3)
        print(f"{program}, start {start}, 3 values:", wait_slots_in_order(gnome_shell, process.pid, 3,
                                                                         f"gnome-{program}-start-{start}"))
        if program == "Kelvaro":
            for count in (2, 6, 8, 3):
                pick_menu_bar_values(session, process.pid, count)
                gnome_shell.icons_of(process.pid, count)
                print(f"{program}, {count} values:",
                      wait_slots_in_order(gnome_shell, process.pid, count, f"gnome-{program}-{count}"))
        process.quit_cleanly(program)


def test_each_icon_holds_its_text_whole_at_the_panels_size(programs, session, gnome_shell):
    """The panel draws the 16-px picture: with three named values ("SMC A: 38°C" and the like) no line of an
    icon's text reaches the picture's left or right edge, where it would be cut."""
    first_run_with_coloured_values(session, programs, 3, COLOURS)
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", programs.computer("portable"))
    kelvaro.wait_ready("Kelvaro")
    wait_slots_in_order(gnome_shell, kelvaro.pid, 3, "gnome-icons")
    icons = gnome_shell.icons_of(kelvaro.pid)
    shot = gnome_shell.screenshot("gnome-icons")
    for slot, icon in enumerate(icons, 1):
        # The picture's actor is the panel's height, the picture centred in it.
        x, y, w, h = icon["icon_box"]
        assert w == 16, f"the panel draws icons {w} px wide, not 16"
        rows = pixels(shot, (x, y + (h - w) // 2, w, w))
        # The text is drawn in the slot's colour; the plate around it is grey.
        coloured = [[slot_of_pixel(p) == slot for p in row] for row in rows]
        edges = [i for i in (0, 1, w - 2, w - 1) if any(row[i] for row in coloured)]
        assert not edges, f"slot {slot}'s text reaches the columns {edges} of its 16-px icon: it is cut"
        assert sum(map(sum, coloured)) > 10, f"slot {slot}'s icon shows no text"
    kelvaro.quit_cleanly("Kelvaro")


@pytest.mark.parametrize("program", ["Kelvaro", "KelvaroLite"])
def test_every_command_of_the_menu_lies_on_the_screen(programs, session, gnome_shell, program):
    """The simulated portable with one value in the tray: the menu a click on the icon opens lists the other
    values and the program's commands; it lies within the 1600x1000 screen, and so does every line of it,
    Kelvaro's "Preferences…" and the quit last among them; the values beyond are under "More Values", which
    opens in place and leaves every command on the screen."""
    first_run_with_coloured_values(session, programs, 1, COLOURS)
    binary = programs.kelvaro if program == "Kelvaro" else programs.lite
    process = session.start(program, binary, "--simulate", programs.computer("portable"))
    process.wait_ready(program)
    icon = gnome_shell.icons_of(process.pid, 1)[0]
    # Filled as the host reads the items over the bus: waited for until the quit is there.
    def filled():
        menu = gnome_shell.menu(icon)
        if not menu or not menu["box"] or not any(line["label"].startswith("Quit") for line in menu["lines"]):
            return None
        return menu if all(line["box"] for line in menu["lines"] if line["visible"]) else None
    menu = wait_until(filled, f"{program}'s menu with its commands")
    shot = gnome_shell.screenshot(f"gnome-{program}-menu")
    x, y, w, h = menu["box"]
    print(f"{program}'s menu: {w}x{h} at ({x},{y}), {len(menu['lines'])} lines; screenshot {shot}")
    commands = [line for line in menu["lines"] if line["label"] not in ("-", "") and "submenu" not in line]
    off = [line["label"] for line in menu["lines"] if line["visible"] and line["label"] != "-" and
           (line["box"] is None or line["box"][1] < 0 or line["box"][1] + line["box"][3] > SCREEN_HEIGHT or
            line["box"][0] + line["box"][2] > SCREEN_WIDTH)]
    assert not off, f"{program}'s menu ({w}x{h} at {x},{y}) has lines off the {SCREEN_WIDTH}x{SCREEN_HEIGHT} " \
                    f"screen: {off[-5:]}"
    assert y + h <= SCREEN_HEIGHT, f"{program}'s menu, {w}x{h} at ({x},{y}), reaches past the screen"
    labels = [line["label"] for line in commands]
    # The values beyond open in place, and the commands stay on the screen.
    more = next((line for line in menu["lines"] if "submenu" in line), None)
    assert more is not None and more["label"] == "More Values", f"{program}'s menu holds no More Values"
    gnome_shell.open_submenu(icon, more["label"])

    def opened():
        now = gnome_shell.menu(icon, open_it=False)
        lines = next((line["submenu"] for line in now["lines"] if "submenu" in line), []) if now else []
        return now if lines and all(line["box"] for line in lines) else None
    opened_menu = wait_until(opened, f"{program}'s More Values did not open")
    gnome_shell.screenshot(f"gnome-{program}-menu-more")
    x, y, w, h = opened_menu["box"]
    assert y + h <= SCREEN_HEIGHT, f"{program}'s menu with More Values open, {w}x{h} at ({x},{y}), reaches past " \
                                   f"the screen"
    quit_line = next(line for line in opened_menu["lines"] if line["label"].startswith("Quit"))
    assert quit_line["box"] and quit_line["box"][1] + quit_line["box"][3] <= SCREEN_HEIGHT, \
        f"{program}'s quit at {quit_line['box']} is off the screen with More Values open"
    if program == "Kelvaro":
        assert any(label.startswith("Preferences") for label in labels), f"no Preferences… in {labels}"
    assert any(label.startswith("Quit") for label in labels), f"no quit in {labels}"
    gnome_shell.close_menus()
    process.quit_cleanly(program)
