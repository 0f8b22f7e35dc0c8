"""Wayland sessions of a test's own: weston on its headless backend, with its desktop shell and, for
"xwayland", its X server. Weston runs as root; its debug protocol (--debug) lets a test read its scene graph
(the stacking of the windows, top first)."""

import glob
import os
import re
import shutil
import subprocess

import pytest

from .session import TESTS
from .waits import wait_until

# A sanitizer build: Qt's Wayland plugin leaves its protocol objects (libwayland-client proxies) to the end of
# the process, and the graphics driver it loads and unloads again keeps what its one-time set-up allocated, of
# whose stack only the __pthread_once_slow frame still has a name by then.
NATIVE_LEAKS = ("leak:libwayland-client.so", "leak:libQt6WaylandClient.so", "leak:__pthread_once_slow")


def run_natively(session):
    """The session's programs start as Wayland clients, their sanitizer told of the Wayland plugin's leaks."""
    env = session.environment
    env["QT_QPA_PLATFORM"] = "wayland"
    env["ASAN_OPTIONS"] = "fast_unwind_on_malloc=0" + (f":{env['ASAN_OPTIONS']}" if env.get("ASAN_OPTIONS") else "")
    suppressions = session.folder / "lsan.supp"
    suppressions.write_text((TESTS / "lsan.supp").read_text() + "\n".join(NATIVE_LEAKS) + "\n")
    env["LSAN_OPTIONS"] = f"suppressions={suppressions}:print_suppressions=0"


class Weston:
    """MODE "native" runs the session's programs as Wayland clients (QT_QPA_PLATFORM=wayland), "xwayland" as
    X11 clients of weston's X server."""

    def __init__(self, session, mode, number=0):
        if not shutil.which("weston"):
            pytest.skip("weston is not installed")
        if mode == "xwayland" and not shutil.which("Xwayland"):
            pytest.skip("xwayland is not installed")
        if not glob.glob("/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so"):
            pytest.skip("qt6-wayland is not installed")
        self.session, self.mode = session, mode
        env = session.environment
        self.socket = f"kelvaro-test-{os.getpid()}-{number}"
        runtime = env["XDG_RUNTIME_DIR"]
        # A weston killed before left its socket, which the wait below would take for this one's.
        for leftover in (f"{runtime}/{self.socket}", f"{runtime}/{self.socket}.lock"):
            if os.path.lexists(leftover):
                os.unlink(leftover)
        extra = []
        if mode == "xwayland":
            # Weston binds its X server's socket here, but does not make the folder.
            os.makedirs("/tmp/.X11-unix", mode=0o1777, exist_ok=True)
            extra = ["--xwayland"]
        self.process = session.start("weston", "weston", "--backend=headless-backend.so", "--use-pixman",
                                     f"--socket={self.socket}", "--width=1600", "--height=1000", "--idle-time=0",
                                     "--debug", *extra)
        wait_until(lambda: os.path.exists(f"{runtime}/{self.socket}"), "weston did not start", 30,
                   abort=lambda: None if self.process.running() else "weston ended")
        env["WAYLAND_DISPLAY"] = self.socket
        if mode == "xwayland":
            display = wait_until(lambda: re.search(r"xserver listening on display (:\d+)", self.process.output()
                                                   + self.process.log()),
                                 "weston did not start its X server", 30)
            env["DISPLAY"] = display.group(1)
            env["QT_QPA_PLATFORM"] = "xcb"
        else:
            env.pop("DISPLAY", None)
            run_natively(session)

    def kill(self):
        """At once, as a compositor that dies under its clients."""
        self.process.kill()

    def scene_graph(self):
        """Weston's scene graph as weston-debug prints it; empty when it does not answer."""
        try:
            return subprocess.run(["weston-debug", "scene-graph"], capture_output=True, text=True, timeout=10,
                                  env=self.session.environment).stdout
        except subprocess.TimeoutExpired:
            return ""

    def stacked_titles(self):
        """The top-level windows on the screen, top first."""
        graph = self.scene_graph()
        return re.findall(r"top-level window '(.*?)'(?: of .*)?, 0x[0-9a-f]*\):$", graph, re.MULTILINE)

    def windows(self):
        """The top-level windows on the screen, top first: (title, (x1, y1, x2, y2)) of each, as weston placed
        it, the right and lower edges exclusive."""
        graph = self.scene_graph()
        return [(title, tuple(map(int, edges))) for title, *edges in re.findall(
            r"top-level window '(.*?)'(?: of .*)?, 0x[0-9a-f]*\):\n\s*position: \((-?\d+), (-?\d+)\) -> "
            r"\((-?\d+), (-?\d+)\)", graph)]

    def views(self):
        """The clients' views across weston's layers, top first: (width, height, title, role) each, the title
        "-" where weston has none, weston's own panel and background left out. Weston names its X server, not
        the X client, as a view's process, and the role of its own clients' surfaces only."""
        found, view = [], None
        for line in self.scene_graph().splitlines():
            m = re.match(r"\s*View \d+ \(role ([^,]*), PID \d+, surface ID \d+, (.*), 0x[0-9a-f]+\):$", line)
            if m:
                view = m.groups()
                continue
            m = re.match(r"\s*position: \((-?\d+), (-?\d+)\) -> \((-?\d+), (-?\d+)\)", line)
            if m and view is not None:
                role, name = view
                if not re.match(r"(panel|background) for output ", name):
                    t = re.match(r"top-level window '(.*)'( of .*)?$", name)
                    x1, y1, x2, y2 = map(int, m.groups())
                    found.append((x2 - x1, y2 - y1, t.group(1) if t else "-", role))
                view = None
        return found

    def screenshot(self, name):
        """The output into $KELVARO_SCREENSHOT_DIR/NAME.png, when asked for: pictures for people to look at."""
        folder = os.environ.get("KELVARO_SCREENSHOT_DIR")
        if not folder:
            return
        shots = self.session.folder / "screenshots"
        shots.mkdir(exist_ok=True)
        for old in shots.glob("wayland-screenshot-*.png"):
            old.unlink()
        try:
            subprocess.run(["weston-screenshooter"], cwd=shots, capture_output=True, timeout=10,
                           env=self.session.environment)
        except subprocess.TimeoutExpired:
            return
        for shot in shots.glob("wayland-screenshot-*.png"):
            shutil.move(shot, f"{folder}/{name}.png")


def lose_compositor(weston, process, what):
    """Kills the compositor under PROCESS, which must then end with status 1, uncrashed."""
    weston.kill()
    status = process.wait_ended(f"{what} still runs 30 s after its compositor went away", 30)
    assert status == 1, f"{what} ended with status {status} after its compositor went away, not 1"
    for log in process.session.folder.glob("*.err"):
        text = log.read_text(errors="replace")
        assert "ERROR: AddressSanitizer" not in text and "runtime error:" not in text, \
            f"{what} crashed at the end of its compositor"
