"""A user's session of a test's own: a private home and runtime folder, the processes it started (all ended
with it), and each program's standard output and error kept under its folder.

One Session per test; the `session` fixture makes it and ends it. Failing helpers raise, so a test reads as
what it checks; the fixture keeps the logs of a failed test and shows their last lines.
"""

import os
import plistlib
import re
import resource
import select
import shutil
import signal
import subprocess
import tempfile
import threading
import time
from dataclasses import dataclass
from pathlib import Path

from .waits import WaitTimeout, wait_until

TESTS = Path(__file__).resolve().parents[2]
ROOT = TESTS.parent

# The windows a start opens, by their preference keys.
WINDOW_KEYS = ("SensorWindowOpen", "FloatingWindowOpen", "OverviewOpen", "SystemInfoOpen", "BatteryInfoOpen",
               "HistoryWindowsOpen", "ExtremeValuesWindowOpen", "DisplayInfoOpen")


def sanitizer_summary(text):
    """The first sanitizer report in TEXT (a program's standard error) with the first frame of the project's
    code, as one line; None when there is none."""
    match = re.search(r"^.*(ERROR: (Address|Leak)Sanitizer|runtime error:).*$", text, re.MULTILINE)
    if match is None:
        return None
    first = re.sub(r" \(pc .*", "", re.sub(r"^==\d+==", "", match.group(0)))[:90]
    frame = re.search(r" in (\S*) \.\./\S*", text[match.start():])
    return first + (f" in {frame.group(0)[4:]}" if frame else "")


def pid_ended(pid):
    """Whether PID has ended: gone, or exited and not yet collected by its parent (a program another one
    started is none of the test's children)."""
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
    except OSError:
        return True
    return stat.rsplit(")", 1)[1].split()[0] == "Z"


@dataclass(frozen=True)
class Programs:
    """The programs of a build that the desktop tests run."""
    kelvaro: Path
    lite: Path
    dump: Path
    peer: Path
    fake_logind: Path

    @staticmethod
    def of(build):
        return Programs(kelvaro=build / "app/Kelvaro", lite=build / "app/KelvaroLite",
                        dump=build / "tools/kelvaro-dump", peer=build / "tests/kelvaro-protocol-peer",
                        fake_logind=build / "tests/kelvaro-fake-logind")

    @staticmethod
    def computer(name):
        """A simulated computer of fixtures/computers."""
        return ROOT / "fixtures/computers" / name


class Process:
    """A program the session started, its output in NAME.out and NAME.err of the session's folder."""

    def __init__(self, session, name, popen):
        self.session, self.name, self.popen = session, name, popen
        # How it is ended with the test: a program that must clean up after itself gets SIGTERM first.
        self.end_signal = signal.SIGKILL
        self.out = session.folder / f"{name}.out"
        self.err = session.folder / f"{name}.err"
        self.stamped = False

    @property
    def pid(self):
        return self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def status(self):
        """The exit status once ended (a signal as 128 + its number, as a shell reports it), else None."""
        code = self.popen.poll()
        return None if code is None else (128 - code if code < 0 else code)

    def log(self):
        return self.err.read_text(encoding="utf-8", errors="replace") if self.err.exists() else ""

    def output(self):
        text = self.out.read_text(encoding="utf-8", errors="replace") if self.out.exists() else ""
        if self.stamped:
            return "".join(line.split(" ", 1)[1] if " " in line else "\n" for line in text.splitlines(True))
        return text

    def stamped_lines(self):
        """With `stamped`: each line of its standard output with the time it came, (seconds, text)."""
        text = self.out.read_text(encoding="utf-8", errors="replace") if self.out.exists() else ""
        found = []
        for line in text.splitlines(True):
            stamp, _, rest = line.partition(" ")
            # The last line may be on its way still.
            if line.endswith("\n"):
                found.append((float(stamp), rest.rstrip("\n")))
        return found

    def has_logged(self, start):
        """Whether a line of its standard error starts with START."""
        return any(line.startswith(start) for line in self.log().splitlines())

    def wait_logged(self, start, what=None, timeout=120):
        """Waits until a line of its standard error starts with START; fails at once when it ends first."""
        return wait_until(lambda: self.has_logged(start), what or f"{self.name} did not log {start!r}", timeout,
                          abort=lambda: None if self.running() else f"{self.name} ended ({self.status()})")

    def wait_ready(self, program, timeout=120):
        """Until PROGRAM says it monitors its computer: its handler of SIGTERM is in place by then."""
        ready = f"{program}: monitoring "
        wait_until(lambda: any(line.startswith(ready) for line in self.log().splitlines()),
                   f"{program} was not ready", timeout,
                   abort=lambda: None if self.running() else f"{program} ended before it was ready "
                                                              f"(status {self.status()})")

    def wait_ended(self, what=None, timeout=60):
        try:
            self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            raise WaitTimeout(f"{what or self.name + ' did not end'} within {timeout:g} s") from None
        return self.status()

    def quit_cleanly(self, what=None, timeout=60):
        """SIGTERM, then the end with status 0."""
        self.popen.send_signal(signal.SIGTERM)
        status = self.wait_ended(f"{what or self.name} did not end after SIGTERM", timeout)
        assert status == 0, f"{what or self.name} ended with status {status} after SIGTERM"

    def kill(self):
        if self.running():
            self.popen.send_signal(self.end_signal)
        try:
            self.popen.wait(30)
        except subprocess.TimeoutExpired:
            self.popen.kill()
            try:
                self.popen.wait(30)
            except subprocess.TimeoutExpired:
                pass


class Session:
    def __init__(self, folder):
        self.folder = Path(folder)
        self.processes = []
        self.environment = dict(os.environ)
        # Only for a sanitizer build; the suppressions name third-party libraries only.
        lsan = f"suppressions={TESTS / 'lsan.supp'}:print_suppressions=0"
        previous = self.environment.get("LSAN_OPTIONS")
        self.environment["LSAN_OPTIONS"] = lsan + (f":{previous}" if previous else "")
        self.environment["KELVARO_NONINTERACTIVE"] = "1"
        for name in ("KELVARO_SIMULATED_COMPUTER", "KELVARO_PRINT_OUTPUT_CACHE"):
            self.environment.pop(name, None)
        self.use_folders(self.folder)

    # --- Folders and files ---

    def use_folders(self, folder):
        """A user of their own under FOLDER: HOME, its XDG folders and a private runtime folder (which also
        tells this session's programs from those of other tests)."""
        folder = Path(folder)
        home = folder / "home"
        self.environment.update(HOME=str(home), XDG_CONFIG_HOME=str(home / ".config"),
                                XDG_DATA_HOME=str(home / ".local/share"), XDG_CACHE_HOME=str(home / ".cache"),
                                XDG_RUNTIME_DIR=str(folder / "runtime"))
        home.mkdir(parents=True, exist_ok=True)
        (folder / "runtime").mkdir(mode=0o700, exist_ok=True)

    @property
    def preferences_file(self):
        """Kelvaro's preferences, which Lite reads too."""
        return Path(self.environment["XDG_CONFIG_HOME"]) / "kelvaro/com.tarnwell.kelvaro.plist"

    @property
    def history_file(self):
        return Path(self.environment["XDG_DATA_HOME"]) / "Kelvaro/SensorHistory.tevshf"

    def read_preferences(self):
        with open(self.preferences_file, "rb") as f:
            return plistlib.load(f)

    def write_preferences(self, preferences):
        self.preferences_file.parent.mkdir(parents=True, exist_ok=True)
        with open(self.preferences_file, "wb") as f:
            plistlib.dump(preferences, f)

    def open_at_next_start(self, *keys):
        """The stored preferences open the windows of KEYS at the next start, and no others; kept in the
        format they were stored in."""
        data = self.preferences_file.read_bytes()
        preferences = plistlib.loads(data)
        for key in WINDOW_KEYS:
            preferences[key] = key in keys
        binary = data.startswith(b"bplist")
        self.preferences_file.write_bytes(
            plistlib.dumps(preferences, fmt=plistlib.FMT_BINARY if binary else plistlib.FMT_XML))

    # --- Processes ---

    def start(self, name, *command, environment=None, unset=(), pass_fds=(), stdin=False, file_size_limit=None,
              stamped=False):
        """Starts COMMAND with its output in NAME.out and NAME.err (emptied first: a wait for a line must not
        find that of an earlier run of the same name), without the variables UNSET; with `stdin`, its standard
        input is the process's `popen.stdin`; with `file_size_limit`, no file it writes grows beyond so many
        bytes (as on a full disk); with `stamped`, each line of its standard output is written with the time
        it came (seconds since the epoch) before it, which `output` leaves out again."""
        out = open(self.folder / f"{name}.out", "wb")
        err = open(self.folder / f"{name}.err", "wb")
        env = dict(self.environment)
        env.update(environment or {})
        for variable in unset:
            env.pop(variable, None)
        try:
            popen = subprocess.Popen([str(c) for c in command], stdout=subprocess.PIPE if stamped else out,
                                     stderr=err, env=env,
                                     stdin=subprocess.PIPE if stdin else subprocess.DEVNULL, pass_fds=pass_fds,
                                     preexec_fn=None if file_size_limit is None else lambda: resource.setrlimit(
                                         resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit)))
        except BaseException:
            out.close()
            raise
        finally:
            err.close()
        if stamped:
            threading.Thread(target=_stamp_lines, args=(popen.stdout, out), daemon=True).start()
        else:
            out.close()
        process = Process(self, name, popen)
        process.stamped = stamped
        self.processes.append(process)
        return process

    def start_announcing(self, name, *command, what, timeout=60):
        """Starts COMMAND, in which "{fd}" stands for a descriptor it writes a line into once it is ready
        (Xvfb's -displayfd, dbus-daemon's --print-address); the process and that line."""
        read_end, write_end = os.pipe()
        try:
            process = self.start(name, *(str(c).replace("{fd}", str(write_end)) for c in command),
                                 pass_fds=(write_end,))
        finally:
            os.close(write_end)
        with os.fdopen(read_end) as pipe:
            ready, _, _ = select.select([pipe], [], [], timeout)
            line = pipe.readline().strip() if ready else ""
        assert line, f"{what} did not start within {timeout} s: {process.log()[-500:]}"
        return process, line

    def copies_of(self, program):
        """The processes named PROGRAM in this session (their runtime folder is the session's), started by
        the test or by another program."""
        wanted = f"XDG_RUNTIME_DIR={self.environment['XDG_RUNTIME_DIR']}".encode()
        found = []
        for entry in Path("/proc").iterdir():
            if not entry.name.isdigit():
                continue
            try:
                if (entry / "comm").read_text().strip() != program[:15]:
                    continue
                if wanted in (entry / "environ").read_bytes().split(b"\0"):
                    found.append(int(entry.name))
            except OSError:
                continue
        return found

    def strays(self):
        """The processes of this session (their runtime folder is the session's) that are none of those it
        started: what the started programs started in turn and left running."""
        wanted = f"XDG_RUNTIME_DIR={self.environment['XDG_RUNTIME_DIR']}".encode()
        own = {p.pid for p in self.processes if p.running()}
        found = []
        for entry in Path("/proc").iterdir():
            if not entry.name.isdigit() or int(entry.name) in own or int(entry.name) == os.getpid():
                continue
            try:
                if wanted in (entry / "environ").read_bytes().split(b"\0"):
                    found.append(int(entry.name))
            except OSError:
                continue
        return found

    def end(self):
        for process in reversed(self.processes):
            process.kill()

    # --- Failures ---

    def report(self, lines=300):
        """The last lines of every program's standard error, and where the whole logs are kept."""
        parts = []
        for path in sorted(self.folder.glob("*.err")):
            text = path.read_text(encoding="utf-8", errors="replace").splitlines()
            shown = text[-lines:]
            more = f" (its last {lines} of {len(text)} lines)" if len(text) > lines else ""
            parts.append(f"--- {path.stem}{more}:\n" + "\n".join(shown))
        kept = tempfile.mkdtemp(prefix="kelvaro-failed-", dir=os.environ.get("TMPDIR", "/tmp"))
        for path in self.folder.iterdir():
            if path.is_file() and path.suffix in (".err", ".out", ".log"):
                shutil.copy(path, kept)
        parts.append(f"--- the logs are kept in {kept}")
        return "\n".join(parts)


def _stamp_lines(pipe, out):
    with pipe, out:
        for line in pipe:
            out.write(b"%.3f %s" % (time.time(), line))
            out.flush()


class SessionBus:
    """A D-Bus session bus of the session's own (dbus-daemon, as dbus-run-session starts it): the programs'
    single-copy names and the bus-activated services of one test never meet another's."""

    def __init__(self, session):
        self.process, self.address = session.start_announcing(
            "session-bus", "dbus-daemon", "--session", "--nofork", "--print-address={fd}", what="the session bus")
        session.environment["DBUS_SESSION_BUS_ADDRESS"] = self.address

    def share_folders(self, session):
        """Services the bus starts when a program asks for one (the accessibility bus, a notification daemon)
        run in the session's folders and on its display, not the caller's."""
        names = ["HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"]
        names += [n for n in ("DISPLAY", "WAYLAND_DISPLAY") if n in session.environment]
        subprocess.run(["dbus-update-activation-environment", *names], env=session.environment, check=True,
                       capture_output=True)

    def owner_of(self, name, session):
        """The process that owns NAME on this bus, or None."""
        reply = subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--dest=org.freedesktop.DBus",
                                "/", "org.freedesktop.DBus.GetConnectionUnixProcessID", f"string:{name}"],
                               capture_output=True, text=True, env=session.environment)
        fields = reply.stdout.split()
        return int(fields[1]) if reply.returncode == 0 and len(fields) > 1 else None
