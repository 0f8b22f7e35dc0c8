"""The tray in KDE Plasma's panel (plasmashell's system tray, kded's StatusNotifierWatcher) on KWin's virtual
screen, the programs on its XWayland, as its user sees it."""

import pytest

from kelvaro_desktop import tray
from kelvaro_desktop.tray import SLOT_HUES, first_run_with_coloured_values, hue_colour, slot_of_pixel
from kelvaro_desktop.xfce import pick_menu_bar_values

COLOURS = tuple(hue_colour(hue) for hue in SLOT_HUES)


def shown_slots(plasma, name):
    """The slots the tray draws left to right (each told by its colour), with a screenshot NAME."""
    pixels = plasma.screenshot(name)
    icons = plasma.tray_icons(pixels, lambda r, g, b: slot_of_pixel((r, g, b)))
    # The pager's picture of the desktop, as wide as the panel is tall, shows the windows' colours too.
    return [slot for _, width, slot in icons if width <= 24]


def wait_slots_in_order(plasma, count, name):
    return tray.wait_slots_in_order(lambda: shown_slots(plasma, name), count, "tray")


@pytest.mark.parametrize("program", ["Kelvaro", "KelvaroLite"])
def test_the_tray_shows_the_slots_in_order_at_the_start_and_after_each_count(programs, session, plasma, program):
    """Eight slot colours; three values at the start, then Kelvaro's count changed from Display > Menu Bar
    3 -> 2 -> 6 -> 8 -> 3: each time plasmashell's tray shows slot 1 leftmost and the slots in the list's order
    left to right, though it sorts the items by its own keys. Lite, started twice with its three values, shows
    them in order both times."""
    first_run_with_coloured_values(session, programs, 3, COLOURS)
    binary = programs.kelvaro if program == "Kelvaro" else programs.lite
    for start in range(1, 2 if program == "Kelvaro" else 3):
        process = session.start(f"{program}-{start}", binary, "--simulate", programs.computer("portable"))
        process.wait_ready(program)
        print(f"{program}, start {start}, 3 values:",
              wait_slots_in_order(plasma, 3, f"plasma-{program}-start-{start}"))
        if program == "Kelvaro":
            for count in (2, 6, 8, 3):
                pick_menu_bar_values(session, process.pid, count)
                print(f"{program}, {count} values:", wait_slots_in_order(plasma, count, f"plasma-{program}-{count}"))
        process.quit_cleanly(program)
