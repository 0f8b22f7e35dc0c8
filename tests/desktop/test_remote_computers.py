"""Kelvaro on a virtual X server of its own with remote computers of the test peer over loopback TCP: faulty
ones fail alone, once, with their reason, and never hold the main thread."""

import re
import shutil
import socket

import pytest

from kelvaro_desktop.peers import Peer, copy_computer, remote_preferences, start_remote_computers
from kelvaro_desktop.waits import wait_until
from kelvaro_desktop.x11 import XServer, need_tools, shown_windows

LOST = re.compile(r"has lost connection|has failed")


def count(process, pattern):
    return sum(1 for line in process.log().splitlines() if re.search(pattern, line))


def gauges_made(process):
    return count(process, r"sensors of '.*' added as gauges")


def has_value_at_quit(process, serial):
    """A gauge of the computer SERIAL had a value in the output cache printed at the quit."""
    return re.search(rf"^remote\.{serial}\.[^\t]*\t[^\t]", process.output(), re.MULTILINE) is not None


def start_kelvaro(session, programs, *arguments):
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", programs.computer("portable"), *arguments)
    kelvaro.wait_ready("Kelvaro")
    return kelvaro


def test_an_agent_killed_and_started_again_on_its_port(programs, session, x_server):
    """That computer is lost once, logged with the reason, while the other is read on; it stays among the
    computers reconnected at launch, so once its agent listens again the next start monitors it again."""
    peers = start_remote_computers(session, programs, programs.computer("tower"), 2)
    session.write_preferences(remote_preferences(peers))
    kelvaro = start_kelvaro(session, programs, "--print-output-cache")
    wait_until(lambda: gauges_made(kelvaro) >= 2, "gauges of both remote computers", 120)

    peers[0].kill()
    wait_until(lambda: count(kelvaro, LOST) >= 1, "the computer whose agent was killed was not given up")
    assert count(kelvaro, r"(has lost connection|has failed)\. It closed the connection") >= 1, \
        f"the loss was logged without its reason: {[l for l in kelvaro.log().splitlines() if LOST.search(l)]}"
    before = peers[1].requests("currentRawValues")
    wait_until(lambda: peers[1].requests("currentRawValues") >= before + 3, "the other computer was not read on")
    assert count(kelvaro, LOST) == 1, f"the loss was logged {count(kelvaro, LOST)} times"
    assert count(kelvaro, "Timeout while waiting") == 0, "time-outs logged after a closed connection"
    kelvaro.quit_cleanly("Kelvaro")
    assert has_value_at_quit(kelvaro, peers[1].serial), "the other computer's gauges had no value at the quit"

    # Its agent again, on the same port: the next start reconnects it and reads it.
    again = Peer(session, programs.peer, peers[0].computer, "remote1", peers[0].serial, port=peers[0].port)
    assert again.port == peers[0].port, f"the agent listens on {again.port}, not on {peers[0].port}"
    kelvaro = start_kelvaro(session, programs, "--print-output-cache")
    wait_until(lambda: gauges_made(kelvaro) >= 2, "gauges of both remote computers after the restart", 120)
    wait_until(lambda: again.requests("currentRawValues") >= 2, "the restarted computer was not read")
    kelvaro.quit_cleanly("Kelvaro")
    assert has_value_at_quit(kelvaro, again.serial), "the restarted computer's gauges had no value"


@pytest.fixture
def trickling(programs, session, x_server):
    """Kelvaro connecting, at its start, a healthy computer and one that greets a byte a second."""
    tower = programs.computer("tower")
    healthy = Peer(session, programs.peer, copy_computer(tower, session.folder / "healthy", "KVREMOTE0001"),
                   "remote1", "KVREMOTE0001")
    slow = Peer(session, programs.peer, copy_computer(tower, session.folder / "trickling", "KVREMOTE0002"),
                "remote2", "KVREMOTE0002", mode="trickle-hello")
    session.write_preferences(remote_preferences([healthy, slow]))
    kelvaro = start_kelvaro(session, programs)
    wait_until(lambda: slow.has_request("request hello"), "Kelvaro did not greet the trickling computer")
    return kelvaro, healthy


def given_up(kelvaro):
    return count(kelvaro, "has failed") > 0


def test_a_trickling_computer_never_holds_the_main_thread(session, trickling):
    """A request on the single-instance socket (served on the main thread) is answered while the greeting
    still trickles; the trickling computer then fails alone, once, with the reason; the healthy one is read
    on."""
    kelvaro, healthy = trickling
    with socket.socket(socket.AF_UNIX) as s:
        s.settimeout(60)
        s.connect(f"{session.environment['XDG_RUNTIME_DIR']}/com.tarnwell.Kelvaro.socket")
        s.sendall(b"raise\n")
        assert s.makefile("rb").readline() == b"ok\n", "the main thread did not answer"
    assert not given_up(kelvaro), \
        "the main thread answered only after the trickling computer's connection was given up"

    wait_until(lambda: given_up(kelvaro), "the trickling computer was not given up")
    assert count(kelvaro, "has failed") == 1, "the failure was logged more than once"
    assert count(kelvaro, r"has failed\. It did not answer in time\.") == 1, "the failure was logged without its reason"
    wait_until(lambda: gauges_made(kelvaro) >= 1, "the healthy computer's gauges")
    before = healthy.requests("currentRawValues")
    wait_until(lambda: healthy.requests("currentRawValues") >= before + 2, "the healthy computer was not read on")
    assert count(kelvaro, "Timeout while waiting|has lost connection") == 0, "the healthy computer was given up"
    kelvaro.quit_cleanly("Kelvaro")


def test_sigterm_during_a_trickled_greeting_ends_at_once(trickling):
    kelvaro, _ = trickling
    kelvaro.quit_cleanly("Kelvaro")
    assert not given_up(kelvaro), "Kelvaro waited for the trickling computer's connection before it ended"


class FakeLoginManager:
    """The project's fake login manager on a system bus of its own, which the session's programs use; it
    announces a sleep or the wake when told."""

    def __init__(self, session, program):
        if not shutil.which("dbus-daemon"):
            pytest.skip("dbus-daemon is missing")
        self.process = session.start("login", program, stdin=True)
        bus = wait_until(lambda: next((line[4:] for line in self.process.output().splitlines()
                                       if line.startswith("bus ")), None), "the fake login manager did not serve")
        session.environment["DBUS_SYSTEM_BUS_ADDRESS"] = bus

    def tell(self, command):
        self.process.popen.stdin.write(f"{command}\n".encode())
        self.process.popen.stdin.flush()

    def said(self, line):
        return line in self.process.output().splitlines()


def test_remote_computers_come_back_after_a_wake(programs, session):
    """The login manager announces a sleep, then the wake: the sleep goes on only once the remote computers
    are disconnected, and after the wake each is connected, its gauges made and its values read again, with
    no failure or alert."""
    login = FakeLoginManager(session, programs.fake_logind)
    XServer(session)
    peers = start_remote_computers(session, programs, programs.computer("tower"), 2)
    session.write_preferences(remote_preferences(peers))
    kelvaro = start_kelvaro(session, programs)
    wait_until(lambda: gauges_made(kelvaro) >= 2, "gauges of both remote computers", 120)
    assert count(kelvaro, "could not register for power event notifications") == 0, \
        "Kelvaro did not find the login manager"

    login.tell("sleep")
    wait_until(lambda: login.said("slept"), "Kelvaro did not let the sleep go on")
    assert count(kelvaro, r"The system goes to sleep: 2 remote computers are disconnected\.") == 1, \
        "the sleep was not logged"
    before = [p.requests("currentRawValues") for p in peers]

    login.tell("wake")
    wait_until(lambda: count(kelvaro, r"The system has woken: 2 remote computers are reconnected in 8 s\.") > 0,
               "the wake was not logged")
    wait_until(lambda: count(kelvaro, r"Reconnecting 2 remote computers after the wake\.") > 0,
               "the reconnection was not logged")
    wait_until(lambda: gauges_made(kelvaro) >= 4, "both computers' gauges after the wake", 120)
    wait_until(lambda: all(p.requests("currentRawValues") >= b + 2 for p, b in zip(peers, before)),
               "both computers read after the wake")
    failures = [l for l in kelvaro.log().splitlines()
                if re.search("has failed|has lost connection|Timeout while waiting|Lost connection", l)]
    assert not failures, f"a remote computer failed around the sleep: {failures}"
    kelvaro.quit_cleanly("Kelvaro")


def test_computers_monitored_already_are_refused_and_the_windows_stay(programs, session):
    """Three remote computers at the start: this computer itself (the peer serves the same simulated computer)
    and two connections to one other. The computer itself and the second connection are refused, each with an
    alert that says it is monitored already; this computer's information windows stay open and are stored
    open at the quit, and the other computer stays monitored."""
    need_tools("xdotool")
    XServer(session, "1600x1000")
    itself = Peer(session, programs.peer, programs.computer("portable"), "itself", "KVREMOTEXXXX")
    other = copy_computer(programs.computer("tower"), session.folder / "other", "KVREMOTE0001")
    first = Peer(session, programs.peer, other, "remote1", "KVREMOTE0001")
    second = Peer(session, programs.peer, other, "remote2", "KVREMOTE0002")
    windows = ("OverviewOpen", "SystemInfoOpen", "BatteryInfoOpen", "DisplayInfoOpen")
    session.write_preferences(remote_preferences([first, second, itself], **{key: True for key in windows}))
    kelvaro = start_kelvaro(session, programs)

    wait_until(lambda: count(kelvaro, "Computer monitored already") >= 2,
               "the two connections to computers monitored already were not refused", 120)
    wait_until(lambda: gauges_made(kelvaro) >= 1, "the other computer's gauges")
    # This computer's information windows are still on the screen.
    name = re.search(r"^Kelvaro: monitoring '(.*)' with ", kelvaro.log(), re.MULTILINE).group(1)
    for title in ("Sensor Overview", "System Information", "Battery Information", "Display Information"):
        assert shown_windows(session, f"^{title}.*{re.escape(name)}", kelvaro.pid), \
            f"the {title} window of '{name}' was closed"
    before = first.requests("currentRawValues")
    wait_until(lambda: first.requests("currentRawValues") >= before + 2, "the other computer was not read on")

    kelvaro.quit_cleanly("Kelvaro")
    stored = session.read_preferences()
    closed = [key for key in windows if stored.get(key) is not True]
    assert not closed, f"the information windows were stored closed: {closed}"
