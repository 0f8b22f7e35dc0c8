"""Virtual X servers of a test's own."""

import os
import select
import shutil

import pytest


class XServer:
    """Xvfb on a display it picks itself; DISPLAY of the session names it once it accepts clients."""

    def __init__(self, session, size="1280x800", name="xvfb"):
        if not shutil.which("Xvfb"):
            pytest.skip("Xvfb is not installed")
        read_end, write_end = os.pipe()
        try:
            # Xvfb writes the display's number into the pipe once it accepts clients.
            self.process = session.start(name, "Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                         f"{size}x24", "-nolisten", "tcp", pass_fds=(write_end,))
        finally:
            os.close(write_end)
        with os.fdopen(read_end) as pipe:
            ready, _, _ = select.select([pipe], [], [], 60)
            number = pipe.readline().strip() if ready else ""
        assert number, f"Xvfb did not start within 60 s: {self.process.log()[-500:]}"
        self.display = f":{number}"
        session.environment["DISPLAY"] = self.display

    def stop(self):
        self.process.kill()
