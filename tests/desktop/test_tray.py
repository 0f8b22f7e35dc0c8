"""The tray on a virtual X server with a real XEmbed tray host (trayer)."""

import hashlib
import time

from kelvaro_desktop.tray import Trayer, expect_either_button_opens_the_menu, first_run_with_coloured_values, root_tree
from kelvaro_desktop.waits import wait_until
from kelvaro_desktop.x11 import need_tools

RGB = ("red", "green", "blue")
# At login the tray host often comes after the program: here this long after it.
HOST_LATE_BY = 12


def come_late(since):
    """The host's start, HOST_LATE_BY seconds after SINCE: the scenario's timing, not a wait."""
    time.sleep(max(0.0, HOST_LATE_BY - (time.monotonic() - since)))


def test_three_values_in_a_late_and_a_restarted_tray(programs, session, x_server):
    """Three values: three drawn icons in the title's order when the tray host starts after Kelvaro and again
    when it restarts; a left click opens the same menu as a right click."""
    need_tools("trayer", "import", "xdotool")
    first_run_with_coloured_values(session, programs)
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", programs.computer("portable"))
    started = time.monotonic()
    kelvaro.wait_ready("Kelvaro")
    come_late(started)
    tray = Trayer(session)
    tray.wait_icons(3, RGB)
    expect_either_button_opens_the_menu(session, tray)

    tray.stop()
    tray.start()
    tray.wait_icons(3, RGB)
    assert kelvaro.running(), "Kelvaro ended"


def test_lite_beside_kelvaro_keeps_its_icons_and_kelvaros_preferences(programs, session, x_server, session_bus):
    """Kelvaro and Lite at once, before a late tray host: both dock three icons; Kelvaro's quit writes its
    preferences and Lite shows its notice and keeps its three icons in the title's order; either click
    opens Lite's menu; a restarted host shows them again; Lite's quit leaves Kelvaro's preferences as they
    were written."""
    need_tools("trayer", "import", "xwininfo", "xdotool")
    first_run_with_coloured_values(session, programs)
    computer = programs.computer("portable")
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", computer)
    lite = session.start("lite", programs.lite, "--simulate", computer)
    started = time.monotonic()
    kelvaro.wait_ready("Kelvaro")
    lite.wait_ready("KelvaroLite")
    come_late(started)
    tray = Trayer(session)
    tray.wait_icons(6)

    kelvaro.quit_cleanly("Kelvaro")
    written = hashlib.sha256(session.preferences_file.read_bytes()).hexdigest()
    wait_until(lambda: '"Kelvaro": (' in root_tree(session), "Lite showed no preference notice", 30)
    tray.wait_icons(3, RGB)
    expect_either_button_opens_the_menu(session, tray)
    tray.stop()
    tray.start()
    tray.wait_icons(3, RGB)

    lite.quit_cleanly("KelvaroLite")
    assert hashlib.sha256(session.preferences_file.read_bytes()).hexdigest() == written, \
        "KelvaroLite changed Kelvaro's preferences"
    assert not lite.has_logged("Internal bundle identification error"), "Lite did not know its domain"
