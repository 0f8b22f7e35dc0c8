"""The project's fake login manager, for the tests of what the programs read from logind."""

import shutil

import pytest

from .waits import wait_until


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
