"""The session test's own rules, which its steps rely on to tell a fault: which steps a selection runs, which log
lines tell a lost computer, the gaps in a peer's requests, the sanitizer report named, the window record."""

import pytest

from kelvaro_desktop.saved import archived_values, stored_positions
from kelvaro_desktop.session import sanitizer_summary
from kelvaro_desktop.waits import wait_until
from session_steps import STEPS, loss_pattern, longest_gap, selection, window_flag


@pytest.mark.parametrize("only, expected", [
    ([], list(STEPS)),
    (["remote"], ["desktop", "peers", "first-start", "start", "remote", "logout", "sanitizers"]),
    (["weston", "tray"], ["desktop", "peers", "first-start", "start", "tray", "logout", "weston", "sanitizers"]),
])
def test_a_selection_runs_what_every_run_needs_in_order(only, expected):
    assert selection(only) == expected


@pytest.mark.parametrize("line, lost", [
    ("Kelvaro: Tower B (S/N R2K7Q1VX4ABD) has lost connection. It did not answer in time.", [1]),
    ("Kelvaro: the connection of 'Tower C' at 127.0.0.1:4711 (R2K7Q1VX4ABE) has failed", [2]),
    ("Kelvaro: the connection of 'Tower A' at 127.0.0.1:4711 has lost connection", [0]),
    # Another computer's name that starts alike, and a line that names the computer but no loss.
    ("Kelvaro: the connection of 'Tower AB' at 127.0.0.1:4711 has failed", []),
    ("Kelvaro: sensors of 'Tower A' added as gauges", []),
])
def test_a_lost_computer_is_told_by_its_serial_or_its_name(line, lost):
    assert [n for n in range(3) if loss_pattern(n).search(line)] == lost


@pytest.mark.parametrize("times, since, gap", [
    ([], 0, 0), ([5.0], 0, 0), ([1.0, 2.0, 64.0, 65.0], 0, 62.0),
    # The killed computer's requests before its restart are not counted.
    ([1.0, 70.0, 71.0, 73.0], 70.0, 2.0),
])
def test_the_longest_gap_counts_from_its_start(times, since, gap):
    assert longest_gap(times, since) == gap


@pytest.mark.parametrize("title, flag", [
    ("Sensors", "SensorWindowOpen"), ("Sensors - Tower A", None),
    ("Sensor Overview - Tower A", "OverviewOpen"), ("Battery Information", "BatteryInfoOpen"),
    ("Extreme Values", "ExtremeValuesWindowOpen"), ("Kelvaro Preferences: General", None),
])
def test_the_windows_recorded_for_the_next_start(title, flag):
    assert window_flag(title) == flag


REPORT = """==4711==ERROR: AddressSanitizer: SEGV on unknown address 0x000000000010 (pc 0x55 bp 0x7f sp 0x7e T0)
==4711==The signal is caused by a READ memory access.
    #0 0x55 in QMenu::actions() const (/lib/libQt6Widgets.so.6+0x1)
    #1 0x56 in platform::QtStatusItem::rebuildMenu() ../platform/desktop/widgets/QtStatusItem.cpp:120
"""


@pytest.mark.parametrize("log, summary", [
    ("Kelvaro: monitoring 'vm' with 3 sensors\n", None),
    (REPORT, "ERROR: AddressSanitizer: SEGV on unknown address 0x000000000010 in "
             "platform::QtStatusItem::rebuildMenu() ../platform/desktop/widgets/QtStatusItem.cpp:120"),
    ("../app/x.cpp:3:5: runtime error: signed integer overflow\n", "../app/x.cpp:3:5: runtime error: signed integer "
                                                                  "overflow"),
])
def test_a_sanitizer_report_is_named_with_the_projects_frame(log, summary):
    assert sanitizer_summary(log) == summary


def test_the_preferences_archives_and_stored_places_are_found_anywhere():
    colour = b"\x04\x0bstreamtyped\x81\xe8"
    preferences = {"A": {"Color": colour, "List": [b"bplist00x", colour, b"plain"]},
                   "NSWindow Frame Sensors": "10 20 300 400 0 0 1600 1000 ",
                   "Machine": {"OverviewAutosave": "-5 7 100 100", "Name": "12 34"}}
    assert archived_values(preferences) == [colour, b"bplist00x"]
    assert stored_positions(preferences) == ["/Machine/OverviewAutosave: -5 7", "/NSWindow Frame Sensors: 10 20"]


def test_a_stamped_output_keeps_when_each_line_came(session):
    process = session.start("lines", "sh", "-c", "echo 'request invoke currentRawValues'; sleep 1; echo done")
    stamped = session.start("stamped", "sh", "-c", "echo 'request invoke currentRawValues'; sleep 1; echo done",
                            stamped=True)
    for p in (process, stamped):
        p.wait_ended()
    wait_until(lambda: len(stamped.stamped_lines()) == 2, "both lines stamped", 10)
    assert stamped.output() == process.output() == "request invoke currentRawValues\ndone\n"
    (first, text), (second, _) = stamped.stamped_lines()
    assert text == "request invoke currentRawValues" and second - first >= 0.9
