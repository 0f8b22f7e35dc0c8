"""A session as a user runs it, end to end (scripts/session-test runs it): Kelvaro on a private copy of the
simulated portable in a private home, in an XFCE session on Xvfb (xfce4-session, xfwm4, xfce4-panel with its
StatusNotifier tray, xfce4-notifyd) with three remote computers of the project's test peer; then a shorter
part natively on weston headless.

Each step is a method that returns what it saw, raises AssertionError (a wait's time-out among them) with the
reason it failed, or raises Skip. The runner prints one line per step and goes on after a failed step; only
the steps every later one needs (the desktop, the peers, the starts) make the rest be skipped.
"""

import os
import plistlib
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback
from pathlib import Path

import pytest

from kelvaro_desktop import sni
from kelvaro_desktop.desktop import (XfceSession, active_window, close_menus, close_windows, focus_on,
                                     check_screen_display, focus_stays_on_sensor_window, key_in, managed_windows,
                                     menu_bar_menu, menu_within, program_windows, screen_display, window_manager_runs,
                                     window_menu_item, xprop)
from kelvaro_desktop.handover import launch_from_menu
from kelvaro_desktop.peers import Peer, copy_computer
from kelvaro_desktop.saved import archived_values, stored_positions
from kelvaro_desktop.session import Programs, Session, SessionBus, pid_ended, sanitizer_summary
from kelvaro_desktop.waits import WaitTimeout, wait_until
from kelvaro_desktop.x11 import XServer, geometry, xdotool
from kelvaro_desktop.xfce import bus_name_owned, watcher_owned


# The screen display comes late: where it takes the clicks and the keyboard, it would spoil the steps after.
STEPS = ("desktop", "peers", "first-start", "start", "remote", "battery", "probes", "tray", "tray-host", "windows",
         "panes", "history", "second-start", "lite", "alert", "screen-display", "soak", "logout", "login", "weston",
         "sanitizers")
# Run whatever was chosen: without them nothing else can run or be judged.
BASE_STEPS = ("desktop", "peers", "first-start", "start", "logout", "sanitizers")
# Nothing after can run without what these set up.
NEEDED = ("desktop", "peers", "first-start", "start")

PEER_SERIALS = ("R2K7Q1VX4ABC", "R2K7Q1VX4ABD", "R2K7Q1VX4ABE")
PEER_NAMES = ("Tower A", "Tower B", "Tower C")
VALUES = "currentRawValues"

# The Window menu's items counted from its end (separators and disabled items are skipped by the keys), and
# the title of the window each opens.
WINDOW_MENU = (("Connected Computers", 2), ("Display Information", 3), ("Batter", 4), ("Drive", 5),
               ("System Information", 6), ("Sensor Overview", 7))

# The windows whose being open is recorded for the next start, by the start of their titles.
RECORD_FLAGS = (("Sensors", "SensorWindowOpen", True), ("Sensor Overview", "OverviewOpen", False),
                ("System Information", "SystemInfoOpen", False), ("Extreme Values", "ExtremeValuesWindowOpen", False),
                ("Batter", "BatteryInfoOpen", False), ("Display", "DisplayInfoOpen", False))

WINDOW_KEYS = ("SensorWindowOpen", "FloatingWindowOpen", "OverviewOpen", "SystemInfoOpen", "BatteryInfoOpen",
               "HistoryWindowsOpen", "ExtremeValuesWindowOpen", "DisplayInfoOpen")

MONITORING = re.compile(r"^Kelvaro: monitoring ('.*') with ", re.MULTILINE)


class Skip(Exception):
    """A step that ran but could not check what it is for; the text says why."""


def window_flag(title):
    """The record flag of the window titled TITLE, or None for one whose being open is not recorded."""
    return next((flag for start, flag, whole in RECORD_FLAGS if (title == start if whole else title.startswith(start))),
                None)


def loss_pattern(n):
    """A line of the log that tells the loss or failure of computer N (named by its serial number or name)."""
    return re.compile(rf"\(S/N {PEER_SERIALS[n]}\) has lost connection|of '{re.escape(PEER_NAMES[n])}' at \S* "
                      rf"(\([^)]*\) )?has (lost connection|failed)")


def longest_gap(times, since):
    """The longest time between two of TIMES (ascending seconds) from SINCE on, 0 for fewer than two."""
    kept = [t for t in times if t >= since]
    return max((b - a for a, b in zip(kept, kept[1:])), default=0)


def selection(only):
    """The steps a run of ONLY (names, none for all) runs, in their order."""
    if not only:
        return list(STEPS)
    return [s for s in STEPS if s in BASE_STEPS or s in only]


class Log:
    """A program's standard error (or output) file, read from a mark on: what it wrote since."""

    def __init__(self, path):
        self.path = Path(path)

    def mark(self):
        return self.path.stat().st_size if self.path.exists() else 0

    def text(self, since=0):
        if not self.path.exists():
            return ""
        with open(self.path, "rb") as f:
            f.seek(since)
            return f.read().decode("utf-8", "replace")

    def has(self, pattern, since=0):
        return re.search(pattern, self.text(since), re.MULTILINE) is not None

    def first(self, pattern, since=0):
        match = re.search(rf"^.*(?:{pattern}).*$", self.text(since), re.MULTILINE)
        return match.group(0) if match else None


class Program:
    """A running copy of Kelvaro or Lite: started by the run (its status can be waited for) or by another
    program, Lite or the session manager (whose status cannot)."""

    def __init__(self, pid, err, process=None):
        self.pid, self.err, self.process = pid, Log(err), process

    def running(self):
        return self.process.running() if self.process else not pid_ended(self.pid)

    def status(self):
        """Its exit status once ended; "unknown" for one another program started."""
        if self.process is None:
            return "unknown"
        return self.process.wait_ended()


class Run:
    def __init__(self, programs, minutes, only, logs):
        self.programs, self.minutes, self.only, self.logs = programs, minutes, only, Path(logs)
        self.folder = Path(tempfile.mkdtemp(prefix="kelvaro-session-"))
        self.session = Session(self.folder)
        env = self.session.environment
        env.setdefault("ASAN_OPTIONS", "detect_leaks=1:abort_on_error=1")
        env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1")
        env["NO_AT_BRIDGE"] = "1"
        # A session manager's address would make xfce4-session think one runs already.
        for name in ("SESSION_MANAGER", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        self.computer = self.folder / "portable"
        shutil.copytree(Programs.computer("portable"), self.computer, symlinks=True)
        self.passed = self.failed = self.skipped = 0
        self.broken = None
        self.started_at = time.monotonic()
        self.desktop = None
        self.kelvaro = None
        # The program whose end stops every wait at once: there is no point waiting for one that has gone.
        self.watched = None
        self.peers = [None, None, None]
        self.peer_up_since = [None, None, None]
        self.peer_restarted = False
        self.peer_trickles = False
        self.start_time = 0
        self.tray_changed = self.pack_put_in = False
        self.windows_at_logout = None

    # --- Helpers ---

    @property
    def preferences(self):
        return self.session.preferences_file

    def read_preferences(self):
        with open(self.preferences, "rb") as f:
            return plistlib.load(f)

    def machine(self, preferences=None):
        preferences = preferences if preferences is not None else self.read_preferences()
        return preferences.get("MachinePreferences", {}).get(self.serial, {})

    def battery_gauges(self):
        return {k for k in self.machine().get("AvailableGauges", {}) if k.startswith("battery.")}

    def marker(self, name):
        """A file written now: what is written later is newer than it."""
        path = self.folder / name
        path.write_text("")
        return path

    @staticmethod
    def newer(path, marker):
        return Path(path).exists() and Path(path).stat().st_mtime_ns > marker.stat().st_mtime_ns

    def ended_how(self):
        log = self.kelvaro.err.text()
        return sanitizer_summary(log) or f"no sanitizer report; last line: " \
                                         f"{(log.splitlines() or [''])[-1][:100]}"

    def abort(self):
        if self.watched is not None and not self.watched.running():
            self.watched = None
            return f"Kelvaro ended while waiting: {self.ended_how()}"
        return None

    def wait(self, condition, what, timeout, interval=0.2):
        return wait_until(condition, what, timeout, interval, abort=self.abort)

    def windows(self):
        """Kelvaro's windows on screen (the screen display left out)."""
        return program_windows(self.session)

    def titles(self):
        return sorted(w.title for w in self.windows())

    def has_window(self, title):
        return title in self.titles()

    def has_window_starting(self, start):
        return any(t.startswith(start) for t in self.titles())

    def window(self, title):
        return next((w.id for w in self.windows() if w.title == title), None)

    def sensors(self):
        sensors = self.window("Sensors")
        assert sensors is not None, "no sensor window"
        return sensors

    def copies(self, program):
        return self.session.copies_of(program)

    def kelvaro_runs(self):
        return len(self.copies("Kelvaro")) == 1 and not self.copies("KelvaroLite")

    def lite_runs(self):
        return len(self.copies("KelvaroLite")) == 1 and not self.copies("Kelvaro")

    def tray_count(self, pid):
        return len(sni.shown_items(self.session, pid))

    def start_kelvaro(self, name, *arguments):
        process = self.session.start(name, self.programs.kelvaro, "--simulate", self.computer, *arguments)
        process.end_signal = signal.SIGKILL
        self.kelvaro = self.watched = Program(process.pid, process.err, process)
        return self.kelvaro

    def adopt_kelvaro(self, err):
        pid = self.copies("Kelvaro")[0]
        self.kelvaro = self.watched = Program(pid, err)

    def ready(self):
        return self.kelvaro.err.has("^Kelvaro: monitoring ")

    def quit_kelvaro(self):
        """SIGTERM; it ends with status 0 and says why in its log."""
        self.watched = None
        os.kill(self.kelvaro.pid, signal.SIGTERM)
        wait_until(lambda: not self.kelvaro.running(), "Kelvaro did not end after SIGTERM", 60)
        status = self.kelvaro.status()
        assert status in (0, "unknown"), f"Kelvaro ended with status {status} after SIGTERM"
        assert self.kelvaro.err.has("signal 15 received, quitting"), "the log does not tell the end by SIGTERM"

    def alive_for(self, seconds):
        """Kelvaro still runs after SECONDS of ticks (the crash of a tray change came within seconds)."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if not self.kelvaro.running():
                return False
            time.sleep(0.5)
        return True

    def expect_alive(self, when):
        assert self.kelvaro.running(), f"Kelvaro ended {when}: {self.ended_how()}"

    def focus(self, window):
        self.wait(lambda: focus_on(self.session, window), f"window {window:#x} did not take the focus", 20)

    # --- The remote computers ---

    def start_peer(self, n, port=0, trickle=False):
        name = f"peer{n}" if self.peers[n] is None else f"peer{n}-again"
        self.peers[n] = Peer(self.session, self.programs.peer, self.folder / f"remote{n}", name, PEER_SERIALS[n],
                             port=port, mode="trickle-hello" if trickle else None, stamped=True)
        self.peer_up_since[n] = time.time()

    def asked_since(self, n, since):
        """Peer N was asked for values twice since SINCE."""
        return len([t for t in self.peers[n].request_times(VALUES) if t >= since]) >= 2

    def all_asked_since(self, since):
        return all(self.asked_since(n, since) for n in range(3))

    def quiet_for(self, n):
        times = self.peers[n].request_times(VALUES)
        return time.time() - times[-1] if times else float("inf")

    def values_flowing(self):
        """Every peer up a minute was asked for values within the last minute."""
        now = time.time()
        for n in range(3):
            if self.peer_up_since[n] is not None and now - self.peer_up_since[n] >= 60:
                quiet = self.quiet_for(n)
                assert quiet <= 60, f"no values from {PEER_NAMES[n]} for {quiet:.0f} s while it was up"

    def lost(self, n):
        return self.kelvaro_log().has(loss_pattern(n).pattern)

    def kelvaro_log(self):
        """Where the Kelvaro of the X part and the Lite it hands over to write."""
        return Log(self.folder / "kelvaro.err")

    def expect_none_lost(self, *numbers):
        for n in numbers:
            if self.lost(n):
                line = self.kelvaro_log().first(loss_pattern(n).pattern)
                raise AssertionError(f"the healthy {PEER_NAMES[n]} was lost: {line[:160]}")

    def longest_gaps(self):
        """The longest time between two value requests to each peer since the start (the killed one since its
        restart); fails when one is a minute or more."""
        parts = []
        for n in range(3):
            times = self.peers[n].request_times(VALUES)
            since = self.start_time
            if n == 2 and self.peer_restarted:
                if not times:
                    parts.append(f"{PEER_NAMES[n]} not read since its restart")
                    continue
                since = times[0]
            gap = longest_gap(times, since)
            parts.append(f"{PEER_NAMES[n]} {gap:.0f} s")
            assert gap < 60, f"{PEER_NAMES[n]} gave no values for {gap:.0f} s while it was up"
        return ", ".join(parts)

    # --- The desktop ---

    def desktop_ready(self):
        return self.desktop.process.running() and watcher_owned(self.session) and \
            bus_name_owned(self.session, "org.freedesktop.Notifications") and \
            bus_name_owned(self.session, "org.xfce.SessionManager") and window_manager_runs(self.session)

    def login(self, name):
        """xfce4-session started as a user's login does, up with its window manager, panel tray and notification
        server; the session manager's address is given to what the run starts from now on."""
        # A session manager's address in the environment would make it think one runs already. What it starts
        # again at the next login is told the simulated computer by its restart command alone.
        self.session.environment.pop("SESSION_MANAGER", None)
        self.desktop.login(name)
        wait_until(self.desktop_ready, "the XFCE session (window manager, panel tray, notification server) was "
                                       "not up", 120,
                   abort=lambda: None if self.desktop.process.running() else "xfce4-session ended")
        self.session.environment["SESSION_MANAGER"] = self.desktop.session_manager()

    def step_desktop(self):
        for tool in ("Xvfb", "xfce4-session", "xfwm4", "xfce4-panel", "xfconf-query", "wmctrl", "xdotool", "xprop",
                     "xwininfo", "xev", "dbus-monitor", "dbus-update-activation-environment", "espeak-ng"):
            assert shutil.which(tool), f"{tool} is not installed (scripts/setup installs it)"
        assert shutil.which("xfce4-notifyd") or any(Path("/usr/lib").glob("*/xfce4/notifyd/xfce4-notifyd")), \
            "xfce4-notifyd is not installed"
        env = self.session.environment
        home = Path(env["HOME"])
        # Speech goes to a null sound device; what is spoken is recorded on its way.
        (home / ".asoundrc").write_text("pcm.!default { type null }\n")
        bin_folder = self.folder / "bin"
        bin_folder.mkdir()
        speech = shutil.which("espeak-ng")
        wrapper = bin_folder / "espeak-ng"
        wrapper.write_text(f'#!/bin/sh\ncase " $* " in *" --stdin "*) tee -a {shlex.quote(str(self.folder))}'
                           f'/speech.log | {shlex.quote(speech)} "$@" ;; *) exec {shlex.quote(speech)} "$@" ;; esac\n')
        wrapper.chmod(0o755)
        env["PATH"] = f"{bin_folder}:{env['PATH']}"
        bus = SessionBus(self.session)
        self.session.start("notify", "dbus-monitor", "--session",
                           "type='method_call',interface='org.freedesktop.Notifications',member='Notify'")
        XServer(self.session, "1600x1000")
        bus.share_folders(self.session)
        # The panel of a first login asks which layout to take: the default one is taken here.
        panel = Path(env["XDG_CONFIG_HOME"]) / "xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml"
        panel.parent.mkdir(parents=True, exist_ok=True)
        if not panel.exists():
            shutil.copy("/etc/xdg/xfce4/panel/default.xml", panel)
        self.desktop = XfceSession(self.session)
        self.login("session1")
        return f"xfce4-session, xfwm4, xfce4-panel (StatusNotifierWatcher), xfce4-notifyd on {env['DISPLAY']}"

    def step_peers(self):
        for n in range(3):
            remote = copy_computer(Programs.computer("tower"), self.folder / f"remote{n}", PEER_SERIALS[n])
            for told in ("sys/class/dmi/id/product_serial", "sys/firmware/dmi/tables/DMI"):
                assert PEER_SERIALS[n].encode() in (Path(remote) / "root" / told).read_bytes(), \
                    f"no serial given to peer {n} in {told}"
            # A name of its own too: the log names a failed computer by its name.
            info = Path(remote) / "root/etc/machine-info"
            info.write_text(re.sub(r"(?m)^PRETTY_HOSTNAME=.*$", f'PRETTY_HOSTNAME="{PEER_NAMES[n]}"',
                                   info.read_text()))
            self.start_peer(n)
        return f"three copies of the tower on ports {' '.join(str(p.port) for p in self.peers)}"

    # --- Starting ---

    def step_first_start(self):
        machine = subprocess.run([str(self.programs.dump), "--simulate", str(self.computer), "machine"],
                                 capture_output=True, env=self.session.environment)
        self.serial = plistlib.loads(machine.stdout).get("systemSerialNumber") if machine.returncode == 0 else None
        assert self.serial, "kelvaro-dump gives no serial of the portable"
        self.session.write_preferences({
            "PreferencesVersion": 3, "ReconnectClientsAtLaunchTime": True,
            "KnownRemoteConnections": {s: ["127.0.0.1", p.port] for s, p in zip(PEER_SERIALS, self.peers)},
            "ActiveRemoteConnections": list(PEER_SERIALS)})
        self.start_kelvaro("first")
        self.wait(self.ready, "Kelvaro was not ready", 120)
        self.wait(lambda: len(re.findall(r"sensors of '.*' added as gauges", self.kelvaro.err.text())) >= 3,
                  "not all three remote computers became gauges", 60)
        self.quit_kelvaro()
        self.first_log = self.kelvaro.err
        probes = subprocess.run([str(self.programs.dump), "--simulate", str(self.computer), "probes"],
                                capture_output=True, env=self.session.environment)
        assert probes.returncode == 0, f"kelvaro-dump probes failed: {probes.stderr.decode()[-300:]}"
        self.set_up_the_day(plistlib.loads(probes.stdout))
        self.battery_before = self.battery_gauges()
        assert self.preferences.stat().st_size, "the first start wrote no preferences"
        return f"first start wrote its preferences; {len(self.machine().get('LocalProbes', []))} probes set"

    def set_up_the_day(self, kinds):
        """The session's settings: the tray shows one value; every probe kind on this computer; an alert on the
        free memory, which the alert step brings below its threshold; a history window with an overlay."""
        data = self.preferences.read_bytes()
        prefs = plistlib.loads(data)
        machine = prefs.setdefault("MachinePreferences", {}).setdefault(self.serial, {})
        prefs["MenuBarValueMode"] = 1
        # The day starts with the sensor window alone.
        for key in WINDOW_KEYS:
            prefs[key] = key == "SensorWindowOpen"
        probes = []
        for kind in kinds:
            entry = {"Type": kind["Type"], "Index": 0}
            sources = kind.get("Sources")
            if isinstance(sources, dict):  # a power probe: a voltage and a current sensor
                if not sources.get("Source1") or not sources.get("Source2"):
                    continue
                entry.update(Source1=sources["Source1"][0], Source2=sources["Source2"][0])
            elif sources is not None:
                if not sources:
                    continue
                entry.update({k: v for k, v in sources[0].items() if k in ("Source1", "Source2", "Index")})
            probes.append(entry)
        machine["LocalProbes"] = probes
        # The alert: free memory below 1000 MB speaks, notifies and opens its panel.
        gauges = machine["AvailableGauges"]
        template = next(iter(gauges.values()))
        gauges["artificial.memory.free"] = {
            "Color": template["Color"], "CustomName": "Free Memory", "ShortName": "FREE", "SpokenName": "Free Memory",
            "FormatStyle": 0, "MachineSerial": template["MachineSerial"], "QuantityType": 10, "SensorEnabled": True,
            "LowTriggerEnabled": True, "LowThreshold": 1000.0, "HighTriggerEnabled": False,
            "HighThreshold": 1000000.0}
        machine["Triggers"] = ["artificial.memory.free"]
        machine.update(AlertOpensPanel=True, AlertUsesVoice=True, AlertSendsGrowl=True, AlertPlaySound=False)
        prefs["VoiceMode"] = 1  # Display > Speech > Speak Alerts Only
        # A history window with another laid over it.
        windows = machine["HistoryWindows"]
        windows[0]["OverlayReferences"] = [windows[1]["OverlayIdentifier"]]
        self.preferences.write_bytes(plistlib.dumps(
            prefs, fmt=plistlib.FMT_BINARY if data.startswith(b"bplist") else plistlib.FMT_XML))

    def step_start(self):
        t = self.start_time = time.time()
        self.start_kelvaro("kelvaro", "--print-output-cache")
        self.wait(self.ready, "Kelvaro was not ready", 120)
        self.wait(lambda: self.all_asked_since(t), "not every remote computer was asked for values", 90)
        self.wait(lambda: self.has_window("Sensors"), "the sensor window was not shown", 60)
        titles = self.titles()
        return f"ready with {len(titles)} windows: {''.join(t + ';' for t in titles)}"

    # --- The steps of the session ---
    # Every part runs whatever an earlier one found, so that one run tells each fault; a part on a computer the
    # program has lost already is told so instead of waiting for it.

    def step_remote(self):
        faults = []

        def check(what):
            try:
                what()
            except AssertionError as e:
                faults.append(str(e))
                return False
            return True
        # Past three call deadlines (10 s each) with every computer healthy.
        t = time.time()
        self.wait(lambda: self.all_asked_since(t), "no values from every remote computer", 90)
        self.wait(lambda: time.time() >= t + 35, "35 s", 90)
        healthy = check(lambda: self.expect_none_lost(0, 1, 2))
        # One stopped for less than a call deadline (6 s), then resumed: never lost, values again.
        stopped_for = None
        if self.lost(1):
            faults.append(f"{PEER_NAMES[1]} was lost before it was stopped")
        else:
            peer = self.peers[1].process
            peer.popen.send_signal(signal.SIGSTOP)
            stopped = time.monotonic()
            try:
                check(lambda: self.wait(lambda: time.monotonic() >= stopped + 6, "6 s", 60))
            finally:
                peer.popen.send_signal(signal.SIGCONT)
            stopped_for = time.monotonic() - stopped
            # The stop must stay below a call deadline, or its loss would be right: a harness too slow says so.
            if stopped_for >= 10:
                faults.append(f"{PEER_NAMES[1]} was kept stopped {stopped_for:.1f} s, past a call deadline")
            t = time.time()
            check(lambda: self.wait(lambda: self.asked_since(1, t), f"no values from {PEER_NAMES[1]} after it was "
                                                                      f"resumed", 60))
        # One killed: its loss told, the others read on. Started again on its port, it is connected again at the
        # next start (the hand-over to Lite and back, the next login), as a computer reconnected at launch.
        if self.lost(2):
            faults.append(f"{PEER_NAMES[2]} was lost before it was killed")
        else:
            port = self.peers[2].port
            self.peers[2].kill()
            self.peer_up_since[2] = None
            check(lambda: self.wait(lambda: self.lost(2), f"the loss of the killed {PEER_NAMES[2]} was not told", 60))
            # It greets its first connection a byte a second, for over a minute: Lite connects it at its start
            # (the hand-over), which must go on answering meanwhile.
            self.peer_trickles = "lite" in self.selected
            self.start_peer(2, port, self.peer_trickles)
            self.peer_up_since[2] = None
            self.peer_restarted = True
        t = time.time()
        check(lambda: self.wait(lambda: self.asked_since(0, t), f"no values from {PEER_NAMES[0]} after the others' "
                                                                  f"faults", 60))
        if healthy:
            check(lambda: self.expect_none_lost(0, 1))
        assert not faults, ";".join(faults)
        return f"three computers past 35 s; one stopped {stopped_for or 0:.0f} s and resumed; one killed and told " \
               f"lost, started again on its port"

    @staticmethod
    def read_since_written(path):
        """The program's tick read PATH after it was last written (the access time moves at the first read
        after a write, also where the file system mounts relatime)."""
        s = os.stat(path)
        return s.st_atime_ns > s.st_mtime_ns

    def write_and_wait_read(self, path, text, what):
        path.write_text(f"{text}\n")
        self.wait(lambda: self.read_since_written(path), what, 60)

    def step_battery(self):
        # A pack in the simulated computer's second bay; the core rescans when the set of packs changes.
        bay = self.computer / "root/sys/class/power_supply/BAT1"
        bay.mkdir(parents=True, exist_ok=True)
        for name, value in (("type", "Battery"), ("present", 1), ("status", "Discharging"),
                            ("current_now", 1000000), ("charge_full", 5000000), ("charge_now", 2500000),
                            ("charge_full_design", 6000000), ("model_name", "bq20z451"), ("serial_number", 4711)):
            (bay / name).write_text(f"{value}\n")
        # Two ticks read the pack, then it is taken out (the bay stays and says so, as ACPI keeps it): two more.
        self.write_and_wait_read(bay / "voltage_now", 11800000, "the pack put in was never read")
        self.pack_put_in = True
        self.write_and_wait_read(bay / "voltage_now", 11790000, "the pack put in was read only once")
        self.expect_alive("with the pack put in")
        self.write_and_wait_read(bay / "present", 0, "the pack taken out was not noticed")
        self.write_and_wait_read(bay / "present", 0, "the bay was read only once after the pack was taken out")
        self.expect_alive("with the pack taken out")
        return "a pack put in and taken out while running; its gauges are checked at the logout"

    def step_probes(self):
        n = len(self.machine().get("LocalProbes", []))
        assert n > 5, f"only {n} probes set"
        return f"{n} probes of as many kinds run; their values are checked at the end"

    def wait_tray_count(self, pid, count, after):
        seen = []

        def shown():
            seen[:] = [self.tray_count(pid)]
            return seen[0] == count
        try:
            self.wait(shown, f"{count} tray values", 60)
        except WaitTimeout as e:
            if "Kelvaro ended" in str(e):
                raise
            raise AssertionError(f"the tray shows {seen[0] if seen else '?'} values{after}, not {count}") from None

    def menu_bar_values(self, count):
        """Display > Menu Bar > COUNT Values in the sensor window (the submenu's items: No Values, 1 Value, ...)."""
        pid, sensors = self.kelvaro.pid, self.sensors()

        def attempt():
            self.focus(sensors)
            display = menu_bar_menu(self.session, pid, sensors, 2)
            if display is None:
                return False
            before = set(xdotool(self.session, "search", "--onlyvisible", "--pid", pid))
            xdotool(self.session, "key", "--window", display, "Home", "Right")
            submenu = menu_within(self.session, pid, before)
            if submenu is None:
                close_menus(self.session, pid)
                return False
            xdotool(self.session, "key", "--window", submenu, "Home", *["Down"] * count, "Return")
            return True
        self.wait(attempt, "no menu opened on a click on the menu bar", 60)

    def step_tray(self):
        pid = self.kelvaro.pid
        self.wait_tray_count(pid, 1, "")
        self.menu_bar_values(3)
        self.wait_tray_count(pid, 3, " after 1 -> 3")
        assert self.alive_for(10), f"Kelvaro ended after the tray went to 3 values: {self.ended_how()}"
        self.menu_bar_values(2)
        self.wait_tray_count(pid, 2, " after 3 -> 2")
        assert self.alive_for(10), f"Kelvaro ended after the tray went to 2 values: {self.ended_how()}"
        self.tray_changed = True
        return "tray values 1 -> 3 -> 2 from the Display menu"

    def step_tray_host(self):
        children = subprocess.run(["pgrep", "-x", "-P", str(self.desktop.process.pid), "xfce4-panel"],
                                  capture_output=True, text=True).stdout.split()
        assert children, "no xfce4-panel in the session"
        panel = int(children[0])
        count = self.tray_count(self.kelvaro.pid)
        if subprocess.run(["xfce4-panel", "--quit"], capture_output=True, env=self.session.environment).returncode:
            os.kill(panel, signal.SIGTERM)
        self.wait(lambda: pid_ended(panel), "the panel did not end", 60)
        assert self.alive_for(10), f"Kelvaro ended with the tray host gone: {self.ended_how()}"
        self.session.start("panel2", "xfce4-panel")
        self.wait(lambda: watcher_owned(self.session), "the restarted panel hosts no tray", 60)
        self.wait_tray_count(self.kelvaro.pid, count, " in the restarted tray")
        self.expect_alive("with the restarted tray")
        return f"xfce4-panel quit and started again: {count} values shown again"

    def close_starting(self, start):
        close_windows(self.session, lambda title: title.startswith(start))

    def step_windows(self):
        sensors = self.sensors()
        opened = []
        for title, ups in WINDOW_MENU:
            # Closed first where it is open already, so that the menu opens it anew.
            self.close_starting(title)
            self.focus(sensors)
            self.wait(lambda: window_menu_item(self.session, self.kelvaro.pid, sensors, ups),
                      "no menu opened on a click on the menu bar", 60)
            try:
                self.wait(lambda: self.has_window_starting(title), "a window", 60)
            except WaitTimeout:
                close_menus(self.session, self.kelvaro.pid)
                raise AssertionError(f"Window > {title} opened no window titled so (shown: "
                                     f"{''.join(t + ';' for t in self.titles())})") from None
            opened.append(title)
            self.close_starting(title)
            self.expect_alive(f"after {title}")
        # The tray menu's windows, chosen as the panel does it.
        self.close_starting("Extreme Values")
        sni.click_menu_item(self.session, self.kelvaro.pid, "Extreme Values")
        self.wait(lambda: self.has_window_starting("Extreme Values"),
                  "the tray menu's Extreme Values opened no window titled so", 60)
        self.close_starting("Extreme Values")
        opened.append("Extreme Values (tray)")
        return f"opened from the Window menu and closed: {' '.join(opened)}"

    def step_panes(self):
        """The preference window (Ctrl+,): each pane chosen in its toolbar by a click (the title names the pane
        shown), then closed with Escape, which writes the preferences."""
        prefix = "Kelvaro Preferences: "
        key_in(self.session, self.sensors(), "ctrl+comma")
        window = self.wait(lambda: next((w.id for w in self.windows() if w.title.startswith(prefix)), None),
                           "Ctrl+, opened no preference window", 60)
        self.focus(window)
        width = geometry(self.session, window)[2]
        seen = []
        # Below the menu bar: the toolbar's buttons, their labels under their icons.
        for y in (45, 55, 35, 65):
            for x in range(12, width, 16):
                xdotool(self.session, "mousemove", "--window", window, x, y, "click", 1)
                time.sleep(0.15)
                title = next((t[len(prefix):] for t in self.titles() if t.startswith(prefix)), None)
                if title and title not in seen:
                    seen.append(title)
            if len(seen) > 1:
                break
        closing = self.marker("panes-closing")
        key_in(self.session, window, "Escape")
        self.wait(lambda: window not in [w.id for w in managed_windows(self.session)],
                  "the preference window did not close on Escape", 30)
        self.expect_alive("in the preference window")
        assert self.newer(self.preferences, closing), "closing the preference window wrote no preferences"
        try:
            self.read_preferences()
        except Exception as e:
            raise AssertionError(f"the preferences written by the preference window do not decode: {e}") from None
        if len(seen) < 11:
            raise Skip(f"only {len(seen)} of 11 panes reached by clicks on the toolbar: {' '.join(seen)}")
        return f"11 panes shown ({','.join(seen)}); closed with Escape, preferences written (no setting changed in " \
               f"them: their controls have no stable place to click)"

    def close_new_windows(self, before):
        """Closes every window of Kelvaro whose title is not among BEFORE."""
        for title in sorted(set(self.titles()) - set(before)):
            close_windows(self.session, lambda t, title=title: t == title)

    def step_history(self):
        """The history window set up with another laid over it, opened from the tray menu; File > Save...
        (Ctrl+S) in it reaches the save panel. With KELVARO_NONINTERACTIVE (without it every alert would wait
        for an answer) the save panel is one that cancels, and says so: the CSV itself is not written here."""
        before = self.titles()
        first = self.machine()["HistoryWindows"][0]
        name = first["HistoryWindowName"]
        assert first.get("OverlayReferences"), "no overlay was set at the first start"
        sni.click_menu_item(self.session, self.kelvaro.pid, "Open History Windows")
        window = self.wait(lambda: self.window(name), f"the tray's Open History Windows showed no window '{name}'", 60)
        saves = self.kelvaro.err.mark()
        key_in(self.session, window, "ctrl+s")
        self.wait(lambda: self.kelvaro.err.has("^SavePanel: ", saves),
                  f"Ctrl+S in the history window '{name}' did not reach the save panel", 30)
        self.expect_alive("in the history window")
        self.close_new_windows(before)
        raise Skip(f"history window '{name}' with an overlay opened, Ctrl+S reached the save panel; no CSV written: "
                   f"the save panel of KELVARO_NONINTERACTIVE cancels")

    def step_second_start(self):
        # Every window closed (the tray stays): the second start has to bring the sensor window back.
        close_windows(self.session, lambda title: True)
        try:
            second = subprocess.run([str(self.programs.kelvaro), "--simulate", str(self.computer)],
                                    stdout=open(self.folder / "second.out", "wb"),
                                    stderr=open(self.folder / "second.err", "wb"), env=self.session.environment,
                                    timeout=120)
            status = second.returncode
        except subprocess.TimeoutExpired:
            status = 124
        assert status == 0, f"the second start ended with status {status}"
        assert Log(self.folder / "second.err").has(rf"^Kelvaro: runs already \(process {self.kelvaro.pid}\)"), \
            "the second start did not hand over"
        self.wait(lambda: self.kelvaro.err.has("another start asked for the windows"),
                  "the running Kelvaro was not asked for its windows", 30)
        copies = len(self.copies("Kelvaro"))
        assert copies == 1, f"{copies} copies of Kelvaro run"
        self.wait(lambda: self.has_window("Sensors"), "no sensor window shown after a second start with every "
                                                      "window closed", 60)
        return f"with every window closed, a second start handed over, ended with status 0 and brought back: " \
               f"{''.join(t + ';' for t in self.titles())}"

    def step_lite(self):
        sensors = self.sensors()
        log = self.kelvaro.err
        lite_readies = lines = log.mark()
        peer = self.peers[2]
        hellos = sum(1 for line in peer.process.output().splitlines() if line.startswith("request hello"))
        kelvaro = self.kelvaro
        self.watched = None

        def open_it():
            if not focus_on(self.session, sensors):
                return None
            # Kelvaro > Launch Kelvaro Lite, from the bottom: Quit, then the launch.
            return menu_bar_menu(self.session, kelvaro.pid, sensors, 0)
        launch_from_menu(self.session, kelvaro.pid, "Kelvaro did not quit on Launch Kelvaro Lite", open_it)
        status = kelvaro.status()
        assert status in (0, "unknown"), f"Kelvaro ended with status {status} at the hand-over"
        wait_until(self.lite_runs, "no Kelvaro Lite runs after the hand-over", 60)
        lite = self.copies("KelvaroLite")[0]
        wait_until(lambda: log.has("^KelvaroLite: monitoring ", lite_readies), "Lite was not ready", 120,
                   abort=lambda: "Lite ended" if pid_ended(lite) else None)
        wait_until(lambda: self.tray_count(lite) > 0, "Lite shows no tray value", 60,
                   abort=lambda: "Lite ended" if pid_ended(lite) else None)
        # The restarted computer of the remote step trickles its greeting to Lite: the main thread answers the
        # tray's menu meanwhile, before the connection is given up.
        if self.peer_trickles:
            wait_until(lambda: sum(1 for line in peer.process.output().splitlines()
                                   if line.startswith("request hello")) > hellos,
                       f"Lite did not greet the restarted {PEER_NAMES[2]}", 60)
        # Back: Lite's "Launch Kelvaro and Quit Lite Version", chosen in its tray menu as the panel does it.
        readies = log.mark()
        sni.click_menu_item(self.session, lite, "Launch Kelvaro and Quit Lite Version")
        if self.peer_trickles:
            given_up = log.first(f"Timeout while waiting|{loss_pattern(2).pattern}", lines)
            assert given_up is None, f"Lite answered its menu only after {PEER_NAMES[2]}, still greeting, was " \
                                     f"given up: {given_up}"
        wait_until(lambda: pid_ended(lite), "Lite did not quit on its launch command", 60)
        wait_until(self.kelvaro_runs, "no Kelvaro runs after the hand-over back", 60)
        self.adopt_kelvaro(self.folder / "kelvaro.err")
        self.wait(lambda: log.has("^Kelvaro: monitoring ", readies), "the Kelvaro started by Lite was not ready", 120)
        self.wait(lambda: self.has_window("Sensors"), "the Kelvaro started by Lite shows no sensor window", 60)
        trickled = f"; Lite answered while {PEER_NAMES[2]} trickled its greeting" if self.peer_trickles else ""
        return f"Kelvaro -> Kelvaro Lite -> Kelvaro, one copy each time{trickled}"

    def notifications(self):
        return (self.folder / "notify.out").read_text(errors="replace").count('string "Sensor Alert"')

    def step_alert(self):
        """Free memory falls below the alert's threshold in the simulated computer; the alert speaks (to a null
        sink), sends a notification and opens its panel."""
        assert self.machine().get("Triggers"), "no alert was set at the first start"
        meminfo = self.computer / "root/proc/meminfo"
        kept = meminfo.read_text()
        before = self.notifications()
        meminfo.write_text(re.sub(r"(?m)^MemAvailable: .*$", "MemAvailable:      90000 kB",
                                  re.sub(r"(?m)^MemFree: .*$", "MemFree:           60000 kB", kept)))
        try:
            self.wait(lambda: self.notifications() > before, "no desktop notification of the alert", 60)
        finally:
            meminfo.write_text(kept)
        try:
            self.wait(lambda: any("Alert" in t for t in self.titles()), "the panel", 60)
        except WaitTimeout:
            raise AssertionError(f"the alert opened no panel (shown: {''.join(t + ';' for t in self.titles())})") \
                from None
        close_windows(self.session, lambda title: "Alert" in title, "Escape")
        speech = self.folder / "speech.log"
        self.wait(lambda: speech.exists() and speech.stat().st_size > 0, "the alert was not spoken", 60)
        failed = self.kelvaro.err.first("could not speak")
        assert failed is None, f"speech failed: {failed}"
        self.expect_alive("after the alert")
        spoken = speech.read_bytes()[:60].decode(errors="replace").replace("\n", " ")
        return f"free memory below the threshold: notification, panel and speech ({spoken})"

    def step_screen_display(self):
        sensors = self.sensors()
        key_in(self.session, sensors, "ctrl+d")
        shown = self.wait(lambda: screen_display(self.session), "Ctrl+D showed no screen display", 30)
        # The window manager gives a new window the focus as it maps it, with its state: a display that takes
        # the focus has it by then.
        self.wait(lambda: "window state: Normal" in xprop(self.session, "-id", shown.id, "WM_STATE"),
                  "the window manager did not map the screen display", 30)
        try:
            if not focus_stays_on_sensor_window(self.session):
                active = active_window(self.session)
                raise AssertionError("the screen display took the keyboard focus from the sensor window"
                                     + (" (it has the focus)" if active == shown.id else ""))
            key_in(self.session, sensors, "ctrl+d")
            self.wait(lambda: screen_display(self.session) is None, "a second Ctrl+D did not hide the screen "
                                                                    "display", 30)
            # Shown again: no task bar lists it, the keyboard stays with the sensor window, and clicks in the
            # gaps of its text reach the window below.
            check_screen_display(self.session, sensors, "session-screen-display")
        except AssertionError:
            if screen_display(self.session) is not None:
                sni.click_menu_item(self.session, self.kelvaro.pid, "Hide Screen Display")
            raise
        return "screen display shown, the sensor window kept the focus, clicks went through it, hidden with Ctrl+D"

    def step_soak(self):
        until = self.started_at + self.minutes * 60
        left = until - time.monotonic()
        if left <= 0:
            return f"no time left of the {self.minutes} minutes; longest gaps {self.longest_gaps()}"
        while time.monotonic() < until:
            assert self.kelvaro.running(), f"Kelvaro ended during the run: {self.ended_how()}"
            self.values_flowing()
            self.expect_none_lost(0, 1)
            time.sleep(2)
        # Over the whole run: no gap of a minute in the values of a computer while it was up.
        return f"{left:.0f} s more with three remote computers, values from each; longest gaps {self.longest_gaps()}"

    def recorded_windows(self):
        """The titles of Kelvaro's windows on screen whose being open is recorded for the next start, sorted."""
        return sorted(t for t in self.titles() if window_flag(t))

    def check_files(self):
        """What was set and sampled is in files that decode: the preferences (every archived value in them too)
        and the history."""
        try:
            prefs = self.read_preferences()
        except Exception as e:
            raise AssertionError(f"the preferences do not decode: {e}") from None
        archives = self.folder / "archives"
        shutil.rmtree(archives, ignore_errors=True)
        archives.mkdir()
        blobs = archived_values(prefs)
        for i, blob in enumerate(blobs):
            (archives / str(i)).write_bytes(blob)
        if blobs:
            done = subprocess.run([str(self.programs.dump), "archive", *sorted(map(str, archives.iterdir()))],
                                  capture_output=True, env=self.session.environment)
            assert done.returncode == 0, f"archived values in the preferences do not decode: " \
                                         f"{(done.stderr.decode(errors='replace').splitlines() or [''])[0]}"
        history = self.session.history_file
        assert history.exists() and history.stat().st_size, "no history file"
        done = subprocess.run([str(self.programs.dump), "history", str(history)], capture_output=True,
                              env=self.session.environment)
        (self.folder / "history.plist").write_bytes(done.stdout)
        assert done.returncode == 0, f"the history does not decode: " \
                                     f"{(done.stderr.decode(errors='replace').splitlines() or [''])[0]}"
        if self.tray_changed:
            mode = prefs.get("MenuBarValueMode")
            assert mode == 2, f"the tray's 2 values were not kept: MenuBarValueMode {mode}"
        text = done.stdout.decode("utf-8", "replace")
        if "probes" in self.selected:
            probes = [g for g in self.machine(prefs).get("AvailableGauges", {}) if g.startswith("artificial.")]
            missing = " ".join(g for g in probes if g not in text) or ("" if probes else "every probe (no probe gauge)")
            assert not missing, f"probes without history: {missing}"
        if self.pack_put_in:
            assert self.battery_gauges() - self.battery_before, "the pack put in got no gauges"
        assert self.serial in text, f"the history holds nothing of this computer ({self.serial})"

    def step_logout(self):
        # Windows open as a user leaves them: the sensor window, the overview and the extreme values.
        sensors = self.window("Sensors")
        if sensors is not None and not self.has_window_starting("Sensor Overview"):
            self.focus(sensors)
            self.wait(lambda: window_menu_item(self.session, self.kelvaro.pid, sensors, 7),
                      "no menu opened on a click on the menu bar", 60)
            self.wait(lambda: self.has_window_starting("Sensor Overview"), "no overview opened before the logout", 60)
        if not self.has_window_starting("Extreme Values"):
            sni.click_menu_item(self.session, self.kelvaro.pid, "Extreme Values")
            self.wait(lambda: self.has_window_starting("Extreme Values"), "no extreme values opened before the "
                                                                          "logout", 60)
        self.windows_at_logout = self.recorded_windows()
        (self.folder / "windows-at-logout").write_text("".join(t + "\n" for t in self.windows_at_logout))
        log = self.kelvaro.err
        lines = log.mark()
        began = self.marker("logout-began")
        self.watched = None
        self.desktop.ask_logout()
        wait_until(lambda: not self.kelvaro.running(), "Kelvaro still runs 120 s after the logout", 120)
        status = self.kelvaro.status()
        self.desktop.process.wait_ended("xfce4-session still runs 120 s after the logout", 120)
        # Each fault is told, not only the first.
        faults = []
        if status != "unknown" and status >= 128:
            faults.append(f"Kelvaro ended with status {status} (signal {status - 128})")
        if not log.has(r"^Kelvaro: .*(session|quit|saved|end)", lines):
            faults.append("the log does not tell the end at the logout")
        if not self.newer(self.preferences, began):
            faults.append("the preferences were not written at the logout")
        try:
            self.check_files()
        except AssertionError as e:
            faults.append(str(e))
        # The windows' record: each window on screen at the logout is recorded open.
        try:
            prefs = self.read_preferences()
        except Exception:
            prefs = {}
        closed = "".join(f" {t} ({window_flag(t)})" for t in sorted(set(self.windows_at_logout))
                         if prefs.get(window_flag(t)) is not True)
        if closed:
            faults.append(f"on screen at the logout but recorded closed:{closed}")
        assert not faults, ";".join(faults)
        return f"Kelvaro ended with status {status}; windows recorded: " \
               f"{''.join(t + ';' for t in self.windows_at_logout)}"

    @staticmethod
    def this_computers(titles):
        return [t for t in titles if not any(name in t for name in PEER_NAMES)]

    def step_login(self):
        assert self.windows_at_logout, "no logout before"
        self.login("session2")
        # Running at the logout, it is started again by the session manager, on the computer it monitored.
        sessions = list((Path(self.session.environment["XDG_CACHE_HOME"]) / "sessions").glob("xfce4-session-*"))
        saved = "".join(p.read_text(errors="replace") for p in sessions)
        if "Kelvaro" not in saved or "RestartStyleHint=3" in saved:
            lines = [line for line in saved.splitlines() if "Kelvaro" in line][:3]
            raise AssertionError(f"the session manager was not asked to start Kelvaro again (session: "
                                 f"{''.join(line + ';' for line in lines)})")
        session_log = self.desktop.process.err
        self.wait(self.kelvaro_runs, "the session manager did not start Kelvaro again", 120)
        # Its output goes to the session's.
        self.adopt_kelvaro(session_log)
        self.wait(self.ready, "the restarted Kelvaro was not ready", 120)
        monitors = MONITORING.search(self.kelvaro.err.text())
        first = MONITORING.search(self.first_log.text())
        assert monitors and first and monitors.group(1) == first.group(1), \
            f"the session manager started Kelvaro again on another computer: " \
            f"{monitors and monitors.group(1)}, not {first and first.group(1)}"
        t = time.time()
        self.wait(lambda: self.all_asked_since(t), "the remote computers were not reconnected at the login", 90)
        expected = self.this_computers(self.windows_at_logout)
        try:
            self.wait(lambda: self.this_computers(self.recorded_windows()) == expected, "the windows of the logout",
                      60)
        except WaitTimeout as e:
            if "Kelvaro ended" in str(e):
                raise
            raise AssertionError(f"this computer's windows at the logout: {''.join(t + ';' for t in expected)}; at "
                                 f"the login: {''.join(t + ';' for t in self.this_computers(self.recorded_windows()))}") \
                from None
        remote_before = len(self.windows_at_logout) - len(expected)
        now = self.recorded_windows()
        remote_after = len(now) - len(self.this_computers(now))
        return f"started again by the session manager on the same computer; windows as at the logout: " \
               f"{''.join(t + ';' for t in expected)} remote computers' windows: {remote_before} at the logout, " \
               f"{remote_after} now"

    def step_weston(self):
        """Natively on weston (headless): the compositor ends under the program, which must write its files,
        tell it, and keep the stored window positions."""
        from kelvaro_desktop.wayland import Weston
        # What the X part left running ends first: one copy per user.
        self.watched = None
        for pid in self.copies("Kelvaro") + self.copies("KelvaroLite"):
            os.kill(pid, signal.SIGTERM)
        wait_until(lambda: not self.copies("Kelvaro") and not self.copies("KelvaroLite"),
                   "the programs of the X part did not end", 60)
        if self.desktop is not None and self.desktop.process and self.desktop.process.running():
            try:
                self.desktop.ask_logout("--fast")
            except AssertionError:
                self.desktop.process.popen.terminate()
            self.desktop.process.wait_ended("the XFCE session did not end", 60)
        positions_before = stored_positions(self.read_preferences())
        env = self.session.environment
        # The X part's sanitizer options stay: no leak is left out here that the X part would tell.
        kept = {k: env.get(k) for k in ("ASAN_OPTIONS", "LSAN_OPTIONS")}
        weston = Weston(self.session, "native")
        for name, value in kept.items():
            if value is None:
                env.pop(name, None)
            else:
                env[name] = value
        env.pop("SESSION_MANAGER", None)
        wayland = self.session.start("wayland", self.programs.kelvaro, "--simulate", self.computer)
        wait_until(lambda: Log(wayland.err).has("^Kelvaro: monitoring "), "Kelvaro was not ready on Wayland", 120,
                   abort=lambda: None if wayland.running() else f"Kelvaro ended ({wayland.status()})")
        t = time.time()
        wait_until(lambda: self.all_asked_since(t), "no values from the remote computers on Wayland", 90,
                   abort=lambda: None if wayland.running() else f"Kelvaro ended ({wayland.status()})")
        ended = self.marker("weston-ended")
        weston.process.popen.send_signal(signal.SIGTERM)
        status = wayland.wait_ended("Kelvaro still runs 60 s after the compositor ended", 60)
        faults = []
        if status >= 128:
            faults.append(f"Kelvaro ended with status {status} (a signal)")
        if not self.newer(self.preferences, ended):
            faults.append(f"the preferences were not written (status {status})")
        if not self.newer(self.session.history_file, ended):
            faults.append("the history was not written")
        if not Log(wayland.err).has(r"saved at the display's end|compositor.*(end|gone|saved)"):
            faults.append("the log does not tell the compositor's end")
        try:
            self.check_files()
        except AssertionError as e:
            faults.append(str(e))
        after = stored_positions(self.read_preferences())
        if after != positions_before:
            changed = [p for p in after if p not in positions_before][:3]
            faults.append(f"stored window positions changed: {''.join(p + ';' for p in changed)}")
        assert not faults, f"when the compositor ended: {';'.join(faults)}"
        return f"weston ended under Kelvaro: status {status}, files written, stored positions kept"

    def step_sanitizers(self):
        logs = sorted(self.folder.glob("*.err")) + sorted(self.folder.glob("*.log"))
        found = "".join(f" {p.name}: {summary};" for p in logs
                        if (summary := sanitizer_summary(p.read_text(errors="replace"))))
        assert not found, f"sanitizer reports:{found}"
        return f"no sanitizer report in {len(logs)} logs"

    # --- The runner ---

    def report(self, result, name, seconds, text):
        print(f"{time.strftime('%H:%M:%S')} {result:<4} {name:<14} {seconds:5d}s  {text}", flush=True)

    def step(self, name):
        begun = time.monotonic()
        # The weston part starts its own Kelvaro: it needs the peers and the first start only.
        if self.broken and name != "sanitizers" and not (name == "weston" and self.broken == "start"):
            self.skipped += 1
            self.report("SKIP", name, 0, f"needs {self.broken}, which failed")
            return
        try:
            summary = getattr(self, "step_" + name.replace("-", "_"))()
        except Skip as e:
            self.skipped += 1
            self.report("SKIP", name, int(time.monotonic() - begun), str(e))
            return
        except (AssertionError, pytest.skip.Exception) as e:
            reason = str(e) or "failed"
        except Exception as e:
            reason = f"the harness failed: {type(e).__name__}: {e}"
            traceback.print_exc()
        else:
            self.passed += 1
            self.report("PASS", name, int(time.monotonic() - begun), summary)
            return
        self.failed += 1
        self.report("FAIL", name, int(time.monotonic() - begun), " ".join(reason.split("\n")[:1]) +
                    ("" if "\n" not in reason else " …"))
        if "\n" in reason:
            print(reason, file=sys.stderr)
        if name in NEEDED:
            self.broken = name

    def hold(self, name):
        """Keeps the session after step NAME while KELVARO_SESSION_HOLD_FILE exists, its variables (the display
        and the bus among them) written to that file with .env after it: to look at a session by hand."""
        hold = os.environ.get("KELVARO_SESSION_HOLD_FILE")
        if name != os.environ.get("KELVARO_SESSION_HOLD_AFTER") or not hold:
            return
        Path(f"{hold}.env").write_text("".join(f"export {k}={shlex.quote(v)}\n"
                                               for k, v in sorted(self.session.environment.items())))
        while os.path.exists(hold):
            time.sleep(1)

    def finish(self):
        shutil.rmtree(self.logs, ignore_errors=True)
        self.logs.mkdir(parents=True)
        for pattern in ("*.out", "*.err", "*.log", "*.png"):
            for path in self.folder.glob(pattern):
                shutil.copy(path, self.logs)
        for path in (self.preferences, self.folder / "history.plist"):
            if path.exists():
                shutil.copy(path, self.logs)
        sessions = Path(self.session.environment["XDG_CACHE_HOME"]) / "sessions"
        if sessions.is_dir():
            shutil.copytree(sessions, self.logs / "sessions")
        self.session.end()
        for pid in self.session.strays():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        shutil.rmtree(self.folder, ignore_errors=True)
        print(f"{self.skipped} skipped; the logs are in {self.logs}")
        print(f"{self.passed} passed, {self.failed} failed", flush=True)
        return 1 if self.failed else 0

    def run(self):
        self.selected = selection(self.only)
        try:
            for name in self.selected:
                self.step(name)
                self.hold(name)
        finally:
            status = self.finish()
        return status


