"""Fixtures of the desktop tests: the programs of a build, a session of each test's own, and the desktops.

CTest runs one test function at a time (tests/desktop/CMakeLists.txt); by hand:
    /usr/bin/python3 -m pytest tests/desktop --build-dir build-test
"""

import os
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from kelvaro_desktop.gnome import GnomeShell  # noqa: E402
from kelvaro_desktop.plasma import Plasma  # noqa: E402
from kelvaro_desktop.session import Programs, Session, SessionBus  # noqa: E402
from kelvaro_desktop.x11 import XServer  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]

# What CTest reads as "skipped": every collected test was skipped (a desktop not installed).
SKIPPED_STATUS = 77


def pytest_addoption(parser):
    parser.addoption("--build-dir", default=os.environ.get("KELVARO_TEST_BUILD_DIR", "build-test"),
                     help="the build whose programs run (default: $KELVARO_TEST_BUILD_DIR, else build-test)")


@pytest.fixture(scope="session")
def programs(request):
    build = Path(request.config.getoption("--build-dir"))
    if not build.is_absolute():
        build = ROOT / build
    found = Programs.of(build)
    assert found.kelvaro.exists(), f"no Kelvaro in {build}: build it first"
    return found


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    session = getattr(item, "kelvaro_session", None)
    if report.failed and session is not None and report.when in ("setup", "call"):
        report.sections.append(("the programs' logs", session.report()))


@pytest.fixture
def session(request, tmp_path):
    """A private home, runtime folder and process list; every process it started ends with the test."""
    started = Session(tmp_path)
    request.node.kelvaro_session = started
    yield started
    started.end()


@pytest.fixture
def x_server(session):
    """A virtual X server of 1280x800 of the test's own, the session's DISPLAY."""
    return XServer(session)


@pytest.fixture
def session_bus(session):
    """A session bus of the test's own, the session's DBUS_SESSION_BUS_ADDRESS."""
    return SessionBus(session)


@pytest.fixture
def gnome_shell(session, session_bus):
    """GNOME Shell headless on a 1600x1000 virtual monitor with its XWayland, the AppIndicator extension its
    tray: the session's DISPLAY and WAYLAND_DISPLAY, programs picking XWayland as in a GNOME session."""
    return GnomeShell(session, session_bus)


@pytest.fixture
def plasma(request, session, session_bus):
    """KDE Plasma on KWin's virtual 1600x1000 screen, its panel and tray up; the session's programs run on its
    XWayland, or natively where the test parametrizes the fixture indirectly with "native"."""
    return Plasma(session, session_bus, getattr(request, "param", "xwayland"))


def pytest_sessionfinish(session, exitstatus):
    reporter = session.config.pluginmanager.get_plugin("terminalreporter")
    if reporter is None or exitstatus != 0 or session.testscollected == 0:
        return
    if len(reporter.stats.get("skipped", [])) == session.testscollected:
        session.exitstatus = SKIPPED_STATUS
