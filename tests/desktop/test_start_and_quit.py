"""Kelvaro started and ended on a virtual X server: what it leaves behind."""

import plistlib
import subprocess
import time

import pytest

PORTABLE = "portable"


def sensors_of(programs, computer, session):
    """The gauges a first start makes: the simulated computer's sensors without the probes, which the user
    adds."""
    listed = subprocess.run([programs.dump, "--simulate", computer, "sensors"], capture_output=True, text=True,
                            env=session.environment, check=True).stdout.splitlines()
    sensors = [line.split("\t")[0] for line in listed if line and not line.startswith("artificial.")]
    assert sensors, f"kelvaro-dump lists no sensor of {computer}"
    return sensors


def serial_of(programs, computer, session):
    machine = subprocess.run([programs.dump, "--simulate", computer, "machine"], capture_output=True,
                             env=session.environment, check=True).stdout
    return plistlib.loads(machine)["systemSerialNumber"]


def test_starts_samples_and_quits_with_its_files_written(programs, session, x_server):
    computer = programs.computer(PORTABLE)
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", computer, "--print-output-cache")
    kelvaro.wait_ready("Kelvaro")
    # Two ticks of the default 2 s interval before the quit. Nothing below depends on them: every value and
    # the history are there from the "monitoring" line on, so a slow tick cannot fail the test.
    time.sleep(4.5)
    assert kelvaro.running(), "Kelvaro ended by itself"
    kelvaro.quit_cleanly("Kelvaro")

    sensors = sensors_of(programs, computer, session)
    serial = serial_of(programs, computer, session)
    machines = session.read_preferences().get("MachinePreferences", {})
    assert serial in machines, f"no MachinePreferences for {serial!r}: {sorted(machines)}"
    assert len(machines[serial].get("AvailableGauges", [])) == len(sensors), "one gauge per sensor"
    cache = [line.split("\t") for line in kelvaro.output().splitlines()]
    assert len(cache) == len(sensors), f"{len(cache)} cache lines for {len(sensors)} sensors"
    for fields in cache:
        assert len(fields) == 3 and fields[1] and fields[2], f"a cache line without value or text: {fields!r}"
        float(fields[1])
    assert session.history_file.is_file(), "no history file"


@pytest.mark.parametrize("delay", [0.3, 0.8])
def test_an_early_quit_keeps_the_stored_window_choice(programs, session, x_server, delay):
    """A quit before the local computer is ready keeps the window choice of the last session."""
    wanted = {"SensorWindowOpen": True, "OverviewOpen": True, "FloatingWindowOpen": False}
    session.write_preferences({"PreferencesVersion": 3, **wanted})
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", programs.computer(PORTABLE))
    # The quit's moment, not a wait: the point is to come before the program is ready.
    time.sleep(delay)
    assert kelvaro.running(), f"Kelvaro ended by itself within {delay} s"
    kelvaro.popen.terminate()
    status = kelvaro.wait_ended("Kelvaro did not end after SIGTERM")
    # 143: the signal came before the program watched for it (a slow sanitizer build), which ends it unsaved.
    assert status in (0, 143), f"exit status {status} after SIGTERM at {delay} s"
    stored = session.read_preferences()
    assert {key: stored.get(key) for key in wanted} == wanted, f"a quit at {delay} s changed the window choice"
