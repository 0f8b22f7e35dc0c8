"""An LCD module on a serial port, as a program of the session finds one: a pseudo-terminal behind a host root
whose /sys/class/tty lists a port with a device, and whose /dev entry leads to the terminal. What the program
sends the module is read from the terminal's other end; the module's text and its blanking are seen there."""

import os
import plistlib
import shutil
import threading
from pathlib import Path

from .waits import wait_until

FIXTURES = Path(__file__).resolve().parents[3] / "fixtures/computers"
PORT = "ttyUSB0"
# A Crystalfontz module of 2 x 8 characters: each frame is the cursor's way home, then its 16 characters.
HOME = b"\x01"
BLANK = HOME + b" " * 16


def module_preferences(text, saver):
    """The stored module of the port: one text element, blanked after SAVER seconds without input."""
    return {f"Serial-{PORT}": {"DisplayType": 0, "ScreenSaver": float(saver),
                                 "OutputItems": [{"ItemType": 0, "Association": text}]}}


class LcdModule:
    """The module of a host root of the session's own, the simulated bare computer's with one serial port
    more; the session's programs read that root (KELVARO_HOST_ROOT) and their idle time stays the live one."""

    def __init__(self, session):
        self.root = session.folder / "host-root"
        shutil.copytree(FIXTURES / "vm/root", self.root, symlinks=True)
        self.master, slave = os.openpty()
        self._slave = slave  # held open, so that the port stays there between the program's openings
        port = self.root / "sys/class/tty" / PORT
        port.mkdir(parents=True)
        os.symlink("../../../devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/" + PORT, port / "device")
        (self.root / "dev").mkdir(exist_ok=True)
        os.symlink(os.ttyname(slave), self.root / "dev" / PORT)
        session.environment["KELVARO_HOST_ROOT"] = str(self.root)
        self._sent = bytearray()
        self._lock = threading.Lock()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        while True:
            try:
                data = os.read(self.master, 4096)
            except OSError:
                return
            if not data:
                return
            with self._lock:
                self._sent += data

    def sent(self):
        with self._lock:
            return bytes(self._sent)

    def state(self, text):
        """"lit" when TEXT came after the last blank frame, "blank" when a blank frame came last, else None."""
        sent = self.sent()
        lit, blank = sent.rfind(text.encode()), sent.rfind(BLANK)
        if blank > lit:
            return "blank"
        return "lit" if lit >= 0 else None

    def wait_state(self, text, state, what, timeout=60, abort=None):
        return wait_until(lambda: self.state(text) == state, what, timeout, interval=0.2, abort=abort)

    def close(self):
        for fd in (self.master, self._slave):
            try:
                os.close(fd)
            except OSError:
                pass


def configure_module(session, program, text, saver):
    """The module stored for the local computer of the session's preferences (written by a first start of
    PROGRAM), kept in the format they were stored in."""
    data = session.preferences_file.read_bytes()
    preferences = plistlib.loads(data)
    machines = preferences.get("MachinePreferences", {})
    assert len(machines) == 1, f"{program} stored {len(machines)} computers: {sorted(machines)}"
    for machine in machines.values():
        machine["LCDModules"] = module_preferences(text, saver)
    binary = data.startswith(b"bplist")
    session.preferences_file.write_bytes(
        plistlib.dumps(preferences, fmt=plistlib.FMT_BINARY if binary else plistlib.FMT_XML))
