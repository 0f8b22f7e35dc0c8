"""The rules the desktop tests hold window frames to: a rule that never finds a fault would let every placement
test pass."""

import pytest

from kelvaro_desktop.desktop import Managed, frame_problems

AREA = (0, 30, 1280, 770)


def framed(title, x, y, width, height, frame=(1, 1, 20, 1)):
    """A client at (x, y) of WIDTH x HEIGHT with a frame of (left, right, top, bottom) around it."""
    return Managed(0, x, y, width, height, *frame, title)


SENSORS = framed("Sensors", 1, 50, 1278, 100)
CASES = [
    # (what, mode, windows, the problems' starts)
    ("two frames apart", "apart", [SENSORS, framed("Sensor Overview", 1, 200, 500, 400)], []),
    ("a frame over the panel", "apart", [framed("Sensors", 1, 40, 300, 100)],
     ["'Sensors' framed 302x121+0+20 runs past"]),
    ("a frame past the right edge", "apart", [framed("Sensors", 1000, 50, 300, 100)], ["'Sensors' framed"]),
    ("two frames over one another", "apart", [SENSORS, framed("Sensor Overview", 1, 140, 500, 400)],
     ["'Sensors' framed 1280x121+0+30 and 'Sensor Overview'"]),
    ("a lower edge past the work area, its title bar within", "heads",
     [SENSORS, framed("System Information", 600, 500, 500, 600)], []),
    ("apart, the same lower edge is a fault", "apart", [framed("System Information", 600, 500, 500, 600)],
     ["'System Information' framed 502x621+599+480 runs past"]),
    ("a title bar below the work area", "heads", [framed("Extreme Values", 100, 820, 400, 300)],
     ["'Extreme Values' framed"]),
    ("a window over the sensor window's menu bar", "heads",
     [SENSORS, framed("Extreme Values", 100, 70, 400, 300)],
     ["'Extreme Values' framed 402x321+99+50 lies over the title or menu bar of 'Sensors'",
      "the title bar of 'Extreme Values'"]),
    ("frames may overlap where the title bars stay clear", "heads",
     [framed("Sensor Overview", 1, 300, 500, 400), framed("System Information", 301, 200, 500, 200)], []),
    ("a title bar within another frame", "heads",
     [framed("Sensor Overview", 1, 200, 500, 400), framed("System Information", 51, 260, 300, 200)],
     ["the title bar of 'System Information'"]),
    ("a title bar half covered keeps a third clear", "heads",
     [framed("Sensor Overview", 1, 200, 500, 400), framed("System Information", 301, 210, 600, 400)], []),
]


@pytest.mark.parametrize("what,mode,windows,expected", CASES, ids=[c[0] for c in CASES])
def test_frame_rules(what, mode, windows, expected):
    found = frame_problems(windows, AREA, mode)
    assert len(found) == len(expected), found
    for problem, start in zip(sorted(found), sorted(expected)):
        assert problem.startswith(start), found
