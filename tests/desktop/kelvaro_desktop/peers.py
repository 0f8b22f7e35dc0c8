"""Remote computers of a test: copies of a simulated computer, each with a serial number of its own, served by
the project's test peer as processes of their own on loopback."""

import os
import shutil

from .waits import wait_until


def copy_computer(source, destination, serial):
    """SOURCE copied to DESTINATION with SERIAL (12 characters) in place of its own serial number, in the DMI
    files and the SMBIOS table alike."""
    shutil.copytree(source, destination, symlinks=True)
    serial = serial.encode()
    old = open(os.path.join(destination, "root/sys/class/dmi/id/product_serial"), "rb").read().strip()
    assert len(serial) == len(old), "the serial number keeps its length, so the SMBIOS table keeps its layout"
    for folder, _, files in os.walk(os.path.join(destination, "root/sys")):
        for name in files:
            path = os.path.join(folder, name)
            if os.path.islink(path):
                continue
            data = open(path, "rb").read()
            if old in data:
                open(path, "wb").write(data.replace(old, serial))
    return destination


class Listener:
    """A process of the session's that prints "listening on PORT"; `port` once it does."""

    def __init__(self, session, name, *command, stamped=False):
        self.name = name
        self.process = session.start(name, *command, stamped=stamped)
        self.port = int(wait_until(self._listening, f"{name} did not listen",
                                   abort=lambda: None if self.process.running() else f"{name} ended"))

    def _listening(self):
        for line in self.process.output().splitlines():
            if line.startswith("listening on "):
                return line[len("listening on "):]
        return None


class Peer(Listener):
    """The test peer serving one computer; `port` once it listens. Its standard output lists the requests it
    answered ("request invoke SELECTOR")."""

    def __init__(self, session, program, computer, name, serial=None, port=0, mode=None, stamped=False):
        """With `stamped`, `request_times` tells when each request came."""
        self.session, self.computer, self.serial = session, computer, serial
        arguments = [computer] + ([str(port)] if port or mode else []) + ([mode] if mode else [])
        super().__init__(session, name, program, *arguments, stamped=stamped)

    def requests(self, selector):
        """Invocations of SELECTOR answered so far."""
        wanted = f"request invoke {selector}"
        return sum(1 for line in self.process.output().splitlines() if line == wanted)

    def request_times(self, selector):
        """When each invocation of SELECTOR came (seconds since the epoch), of a `stamped` peer."""
        wanted = f"request invoke {selector}"
        return [t for t, line in self.process.stamped_lines() if line == wanted]

    def has_request(self, prefix):
        return any(line.startswith(prefix) for line in self.process.output().splitlines())

    def kill(self):
        self.process.kill()


def start_remote_computers(session, programs, source, count, first=1):
    """COUNT peers of copies of SOURCE named remote1 ..., serial numbers KVREMOTE0001 ...; in that order."""
    peers = []
    for i in range(first, first + count):
        serial = f"KVREMOTE{i:04d}"
        computer = copy_computer(source, session.folder / f"computer{i}", serial)
        peers.append(Peer(session, programs.peer, computer, f"remote{i}", serial))
    return peers


def remote_preferences(peers, **more):
    """Kelvaro's preferences that connect every computer of PEERS (with a serial and a port each) at its start,
    with MORE keys."""
    return {"PreferencesVersion": 3, "ReconnectClientsAtLaunchTime": True,
            "KnownRemoteConnections": {p.serial: ["127.0.0.1", p.port] for p in peers},
            "ActiveRemoteConnections": [p.serial for p in peers], **more}
