"""Kelvaro on a virtual X server of its own with remote computers of the test peer over loopback TCP: faulty
ones fail alone, once, with their reason, and never hold the main thread."""

import re
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path
from types import SimpleNamespace

import pytest

from kelvaro_desktop.login import FakeLoginManager
from kelvaro_desktop.peers import Listener, Peer, copy_computer, remote_preferences, start_remote_computers
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


def failures(kelvaro):
    return count(kelvaro, "has failed|has lost connection")


def failure_lines(kelvaro):
    return [l for l in kelvaro.log().splitlines() if re.search("has failed|has lost", l)]


def test_faulty_remote_computers_fail_alone_each_once_with_its_reason(programs, session, x_server):
    """Among two healthy computers: a third later stopped (SIGSTOP, then SIGCONT), two services of another kind
    (an SSH banner, an overlong line), a port nothing listens at, and three agents that greet but do not say
    who they are (no description, no serial number, asleep first). Each faulty one fails alone and is logged
    once with its reason and its host and port; the healthy ones are read on every tick meanwhile and are
    never given up."""
    tower = programs.computer("tower")
    places = start_remote_computers(session, programs, tower, 3)
    service = Path(__file__).resolve().parent / "kelvaro_desktop/other_service.py"
    for mode, serial in (("banner", "KVREMOTE0004"), ("overlong", "KVREMOTE0005")):
        other = Listener(session, mode, sys.executable, service, mode)
        other.serial = serial
        places.append(other)
    # A port nothing listens at: taken from the system, then let go.
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        places.append(SimpleNamespace(serial="KVREMOTE0006", port=s.getsockname()[1]))
    for mode, serial in (("no-description", "KVREMOTE0007"), ("no-serial-number", "KVREMOTE0008"),
                         ("sleeps-at-once", "KVREMOTE0009")):
        places.append(Peer(session, programs.peer, tower, mode, serial, mode=mode))
    session.write_preferences(remote_preferences(places))
    kelvaro = start_kelvaro(session, programs)

    wait_until(lambda: gauges_made(kelvaro) >= 3, "gauges of the three computers that answer", 120)
    wait_until(lambda: failures(kelvaro) >= 5,
               "the services of another kind, the closed port and the unnamed agents were not given up")
    # Each named by its host and port, never by the client's address in memory.
    for place in places[3:8]:
        assert count(kelvaro, rf"The monitoring client of 127\.0\.0\.1:{place.port} has failed\. ") >= 1, \
            f"the failure at port {place.port} was not logged by its host and port: {failure_lines(kelvaro)}"
    assert count(kelvaro, r"monitoring client (of )?0x") == 0, "a client was named by its address"
    reasons = {
        "the agent without a description": (
            r"has failed\. It answers at its port, but it is no monitoring service: it did not describe its computer\.", 1),
        "the agent without a serial number": (
            r"has failed\. It sent no serial number, by which alone it could be told apart from other computers\.", 1),
        "the services of another kind": (
            r"has failed\. It closed the connection or sent a reply that could not be read\.", 2),
        "the closed port": (r"has failed\. It refused the connection: no monitoring service answers at its port\.", 1),
    }
    for what, (pattern, times) in reasons.items():
        found = count(kelvaro, pattern)
        assert found == times if times > 1 else found >= 1, \
            f"{what} given up without the reason ({found} times): {failure_lines(kelvaro)}"
    asleep = places[8].port
    wait_until(lambda: count(kelvaro, rf"The monitored computer at 127\.0\.0\.1:{asleep} has entered sleep mode "
                                      "before it identified itself") > 0,
               "the agent that sleeps at once was not told asleep by its host and port")

    # Stopped while it is read: given up at its deadline, once; the others are read on every tick meanwhile.
    healthy, stopped = places[0:2], places[2]
    before = [p.requests("currentRawValues") for p in healthy]
    stopped.process.popen.send_signal(signal.SIGSTOP)
    stopped_at = time.monotonic()
    wait_until(lambda: failures(kelvaro) >= 6, "the stopped computer was not given up")
    took = time.monotonic() - stopped_at
    assert count(kelvaro, r"(has failed|has lost connection)\. It did not answer in time\.") >= 1, \
        f"the stopped computer was given up without its reason: {failure_lines(kelvaro)}"
    for peer, b in zip(healthy, before):
        read = peer.requests("currentRawValues") - b
        # A reading every 2 s; one tick of slack at each end.
        assert read >= int(took) // 2 - 2, f"{peer.name} was read {read} times in the {took:.0f} s the stopped one took"
    stopped.process.popen.send_signal(signal.SIGCONT)

    # Read on afterwards, and no further failure, no time-out line per call.
    after = [p.requests("currentRawValues") for p in healthy]
    wait_until(lambda: all(p.requests("currentRawValues") >= a + 3 for p, a in zip(healthy, after)),
               "the healthy computers were not read on")
    assert failures(kelvaro) == 6, f"{failures(kelvaro)} failures logged, not 6: {failure_lines(kelvaro)}"
    assert count(kelvaro, "Timeout while waiting") <= 1, "time-outs logged once per call"
    kelvaro.quit_cleanly("Kelvaro")


# Three call deadlines of 10 s, and a margin.
STAY = 35


def test_remote_computers_stay_monitored_past_their_call_deadlines(programs, session, x_server, computers=3):
    """Three remote computers connected at the start and kept past three call deadlines. Right after their
    gauges are made the controller sends each a burst of commands (one per gauge): every one is answered, so
    no call runs into its time-out. They are still read in the last ticks, no time-out or loss is logged, and
    at the quit every remote gauge has a value."""
    peers = start_remote_computers(session, programs, programs.computer("tower"), computers)
    session.write_preferences(remote_preferences(peers))
    kelvaro = start_kelvaro(session, programs, "--print-output-cache")
    wait_until(lambda: gauges_made(kelvaro) >= computers, f"gauges of {computers} remote computers", 120)
    made_at = time.monotonic()
    lost = "Timeout while waiting|has lost connection|has failed|Lost connection"

    # The run lasts past the deadlines of the first commands (a span of the session, not a wait for a
    # condition); what is looked at meanwhile is the log.
    while time.monotonic() - made_at < STAY:
        assert kelvaro.running(), "Kelvaro ended while monitoring its remote computers"
        assert count(kelvaro, lost) == 0, f"a remote computer was given up: {failure_lines(kelvaro)[:3]}"
        time.sleep(1)
    # The last ticks: every computer is read again after the deadlines.
    before = [p.requests("currentRawValues") for p in peers]
    wait_until(lambda: all(p.requests("currentRawValues") >= b + 2 for p, b in zip(peers, before)),
               f"every remote computer read twice after {STAY} s")
    assert count(kelvaro, lost) == 0, f"a remote computer was given up: {failure_lines(kelvaro)[:3]}"

    kelvaro.quit_cleanly("Kelvaro")
    for peer in peers:
        gauges = re.findall(rf"^remote\.{peer.serial}\.[^\t]*\t([^\t]*)\t", kelvaro.output(), re.MULTILINE)
        assert gauges, f"no gauge of {peer.serial} at the quit"
        assert any(gauges), f"none of the {len(gauges)} gauges of {peer.serial} has a value at the quit"


def accessible(session, *arguments):
    """What a screen reader finds of the windows (kelvaro_desktop/accessible_windows.py); None where it fails."""
    program = Path(__file__).resolve().parent / "kelvaro_desktop/accessible_windows.py"
    done = subprocess.run(["/usr/bin/python3", program, *arguments],
                          capture_output=True, text=True, env=session.environment)
    return done.stdout if done.returncode == 0 else None


def test_computers_of_one_name_are_told_apart(programs, session, session_bus):
    """Three copies of the simulated tower, each with a serial number of its own, all named "Studio Mac Pro":
    read as a screen reader reads them (AT-SPI), each computer's sensor overview lists its sensors once, and
    the titles tell the three apart by where each is reached."""
    try:
        import gi
        gi.require_version("Atspi", "2.0")
    except (ImportError, ValueError):
        pytest.skip("python3-gi or gir1.2-atspi-2.0 missing")
    # Qt offers its widgets to assistive tools only when asked to.
    session.environment["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
    XServer(session, "1600x1000")
    session_bus.share_folders(session)
    peers = start_remote_computers(session, programs, programs.computer("tower"), 3)
    session.write_preferences(remote_preferences(peers))
    session.open_at_next_start("SensorWindowOpen")
    kelvaro = start_kelvaro(session, programs)
    made = r"^(\d+) sensors of 'Studio Mac Pro' added as gauges$"
    wait_until(lambda: len(re.findall(made, kelvaro.log(), re.MULTILINE)) >= 3,
               "gauges of the three computers named alike", 120)
    counts = set(re.findall(made, kelvaro.log(), re.MULTILINE))
    assert len(counts) == 1, f"the copies of one computer got gauges of different counts: {counts}"
    sensors = counts.pop()

    wait_until(lambda: accessible(session, "press", "Kelvaro", "Window", "Overview") is not None,
               "Window > Overview could not be pressed")
    # Title, rows and rows alike another, one line per overview of the three.
    def each_once():
        found = accessible(session, "tables", "Kelvaro", "^Sensor Overview - Studio Mac Pro")
        rows = [line.split("\t") for line in (found or "").splitlines()]
        return rows if len(rows) == 3 and all(r[1] == sensors and r[2] == "0" for r in rows) else None
    overviews = wait_until(each_once, f"three overviews of Studio Mac Pro, each of its {sensors} sensors once")
    titles = {row[0] for row in overviews}
    for peer in peers:
        assert f"Sensor Overview - Studio Mac Pro (127.0.0.1:{peer.port})" in titles, \
            f"no overview titled by the computer at 127.0.0.1:{peer.port}: {sorted(titles)}"
    kelvaro.quit_cleanly("Kelvaro")
