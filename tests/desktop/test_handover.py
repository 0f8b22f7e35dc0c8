"""The hand-overs between the two programs (trayer as the tray host): "Launch Kelvaro and Quit Lite Version"
in Lite's tray menu, "Launch Kelvaro Lite" in Kelvaro's menu."""

import os
import re
import signal

import pytest

from kelvaro_desktop.handover import launch_kelvaro_from_lite, launch_lite_from_kelvaro
from kelvaro_desktop.session import pid_ended
from kelvaro_desktop.peers import remote_preferences, start_remote_computers
from kelvaro_desktop.tray import Trayer
from kelvaro_desktop.waits import wait_until
from kelvaro_desktop.x11 import need_tools


@pytest.mark.parametrize("bus", ["bus", "nobus"])
def test_lite_and_kelvaro_hand_over_both_ways(request, programs, session, x_server, bus):
    """Lite's launch while Kelvaro runs: Lite ends, the Kelvaro it started hands over to the running one, and
    one Kelvaro is left. Then Kelvaro's launch while Lite runs leaves one Lite and no Kelvaro. "bus": on a
    session bus of its own; "nobus": the bus address leads nowhere."""
    need_tools("trayer", "xdotool")
    if bus == "bus":
        request.getfixturevalue("session_bus")
    else:
        session.environment["DBUS_SESSION_BUS_ADDRESS"] = f"unix:path={session.folder}/no-bus"
    Trayer(session)
    computer = programs.computer("portable")
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", computer)
    kelvaro.wait_ready("Kelvaro")
    lite = session.start("lite", programs.lite, "--simulate", computer)
    lite.wait_ready("KelvaroLite")

    launch_kelvaro_from_lite(session, lite.pid)
    assert lite.wait_ended() == 0, f"Lite ended with status {lite.status()}"
    # The Kelvaro that Lite started writes to Lite's standard error.
    wait_until(lambda: lite.has_logged(f"Kelvaro: runs already (process {kelvaro.pid})"),
               "the Kelvaro started by Lite did not hand over")
    wait_until(lambda: len(session.copies_of("Kelvaro")) == 1, "one Kelvaro was not left", 30)
    assert not session.copies_of("KelvaroLite"), "Lite still runs"
    assert kelvaro.has_logged("Kelvaro: another start asked for the windows"), "the running Kelvaro was not asked"

    # The reverse, from the application menu of Kelvaro's sensor overview.
    lite = session.start("lite2", programs.lite, "--simulate", computer)
    lite.wait_ready("KelvaroLite")
    launch_lite_from_kelvaro(session, kelvaro.pid)
    assert kelvaro.wait_ended() == 0, f"Kelvaro ended with status {kelvaro.status()}"
    wait_until(lambda: kelvaro.has_logged(f"KelvaroLite: runs already (process {lite.pid})"),
               "the Lite started by Kelvaro did not hand over")
    wait_until(lambda: len(session.copies_of("KelvaroLite")) == 1, "one Lite was not left", 30)
    assert not session.copies_of("Kelvaro"), "Kelvaro still runs"
    lite.quit_cleanly("Lite")


def test_remote_computers_come_back_after_the_hand_over_to_lite(programs, session, x_server, session_bus):
    """Kelvaro monitors two remote computers; its launch of Lite ends it with status 0 and Lite monitors them
    too; Lite's launch of Kelvaro ends Lite, and the Kelvaro it starts connects both again and reads them,
    with no failure logged on the way."""
    need_tools("trayer", "xdotool")
    Trayer(session)
    peers = start_remote_computers(session, programs, programs.computer("tower"), 2)
    session.write_preferences(remote_preferences(peers, OverviewOpen=True))
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", programs.computer("portable"))
    kelvaro.wait_ready("Kelvaro")

    def gauges():
        return sum(1 for line in kelvaro.log().splitlines() if re.search(r"sensors of '.*' added as gauges", line))
    wait_until(lambda: gauges() >= 2, "gauges of both remote computers", 120)

    launch_lite_from_kelvaro(session, kelvaro.pid)
    assert kelvaro.wait_ended() == 0, f"Kelvaro ended with status {kelvaro.status()}"
    lite_pid = wait_until(lambda: next(iter(session.copies_of("KelvaroLite")), None), "Kelvaro did not start Lite")
    # Lite, and later the Kelvaro it starts, write where the first Kelvaro wrote.
    wait_until(lambda: kelvaro.has_logged("KelvaroLite: monitoring "), "Lite was not ready", 120)
    wait_until(lambda: gauges() >= 4, "Lite did not monitor both remote computers", 120)
    gauges_before = gauges()

    launch_kelvaro_from_lite(session, lite_pid)
    before = [p.requests("currentRawValues") for p in peers]
    kelvaro_pid = wait_until(lambda: next(iter(session.copies_of("Kelvaro")), None), "Lite did not start Kelvaro")
    wait_until(lambda: gauges() >= gauges_before + 2, "gauges of both remote computers after the hand-over", 120)
    wait_until(lambda: all(p.requests("currentRawValues") >= b + 2 for p, b in zip(peers, before)),
               "both remote computers read after the hand-over")
    failures = [l for l in kelvaro.log().splitlines()
                if re.search("has failed|has lost connection|Timeout while waiting|Lost connection", l)]
    assert not failures, f"a remote computer failed on the way: {failures[:3]}"
    os.kill(kelvaro_pid, signal.SIGTERM)
    wait_until(lambda: pid_ended(kelvaro_pid), "the Kelvaro started by Lite did not end on SIGTERM")
