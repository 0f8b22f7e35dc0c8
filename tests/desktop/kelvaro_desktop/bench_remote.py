"""The measurement of scripts/bench-remote, in a session of its own: Kelvaro on a virtual X server monitoring
COUNT remote computers (test peers of copies of the simulated tower), the simulated portable its local one.

Usage: python3 -m kelvaro_desktop.bench_remote COUNT SECONDS KELVARO PEER (with tests/desktop on the path)
"""

import os
import re
import shutil
import socket
import sys
import tempfile
import time
from pathlib import Path

from .peers import remote_preferences, start_remote_computers
from .session import Session
from .waits import wait_until
from .x11 import XServer

ROOT = Path(__file__).resolve().parents[3]
LOST = re.compile(r"Timeout while waiting|has lost connection|has failed")


class Programs:
    def __init__(self, kelvaro, peer):
        self.kelvaro, self.peer = kelvaro, peer

    @staticmethod
    def computer(name):
        return ROOT / "fixtures/computers" / name


def cpu_ticks(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def status_field(pid, name):
    line = next(l for l in Path(f"/proc/{pid}/status").read_text().splitlines() if l.startswith(name + ":"))
    return int(line.split()[1])


def answer_times(path, seconds):
    """Twice a second a request on the single-instance socket, which the main thread answers (before it raises
    the windows), as it answers a window manager's ping: each answer's time in ms, or "lost"."""
    times = []
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        s = socket.socket(socket.AF_UNIX)
        s.settimeout(30)
        asked = time.monotonic()
        try:
            s.connect(path)
            s.sendall(b"raise\n")
            s.makefile("rb").readline()
            times.append("%.1f" % ((time.monotonic() - asked) * 1000))
        except OSError:
            times.append("lost")
        s.close()
        time.sleep(0.5)
    return times


def measure(session, programs, count, seconds):
    XServer(session)
    peers = start_remote_computers(session, programs, programs.computer("tower"), count)
    session.write_preferences(remote_preferences(peers))
    kelvaro = session.start("kelvaro", programs.kelvaro, "--simulate", programs.computer("portable"))
    kelvaro.wait_ready("Kelvaro")

    def lost():
        return sum(1 for line in kelvaro.log().splitlines() if LOST.search(line))
    wait_until(lambda: len(re.findall(r"sensors of '.*' added as gauges", kelvaro.log())) >= count,
               f"gauges of {count} remote computers", 60 + 2 * count,
               abort=lambda: None if kelvaro.running() else "Kelvaro ended")
    # The connecting is not the steady state.
    time.sleep(10)

    reads_before = [p.requests("currentRawValues") for p in peers]
    lost_before = lost()
    cpu_before = cpu_ticks(kelvaro.pid)
    started_at = time.monotonic_ns()
    answers = answer_times(f"{session.environment['XDG_RUNTIME_DIR']}/com.tarnwell.Kelvaro.socket", seconds)
    cpu = cpu_ticks(kelvaro.pid) - cpu_before
    elapsed = (time.monotonic_ns() - started_at) / 1e9
    rss = status_field(kelvaro.pid, "VmRSS")
    threads = status_field(kelvaro.pid, "Threads")
    lost_meanwhile = lost() - lost_before
    reads = sorted(p.requests("currentRawValues") - before for p, before in zip(peers, reads_before))
    answered = sorted((a for a in answers if a != "lost"), key=float)
    n = len(answered)

    def nth(i):
        return answered[i - 1] if 1 <= i <= n else ""
    p50, p95, worst = nth(int((n + 1) * 0.5)), nth(int(n * 0.95 + 0.999)), nth(n)
    kelvaro.quit_cleanly("Kelvaro")
    hz = os.sysconf("SC_CLK_TCK")
    return (f"bench-remote: {count} remote computers, {seconds} s: CPU {100 * cpu / hz / elapsed:.1f}% of one core, "
            f"resident {rss / 1024:.1f} MiB, {threads} threads; readings per computer {reads[0]} to {reads[-1]} "
            f"({reads[0] / elapsed:.2f} to {reads[-1] / elapsed:.2f} a second); time-outs and losses logged: "
            f"{lost_meanwhile}; main thread answers in {p50} ms (median), {p95} ms (p95), {worst} ms (worst)")


def main(arguments):
    count, seconds, kelvaro, peer = int(arguments[0]), int(arguments[1]), arguments[2], arguments[3]
    folder = tempfile.mkdtemp(prefix="kelvaro-bench-remote-")
    session = Session(folder)
    try:
        line = measure(session, Programs(kelvaro, peer), count, seconds)
    except BaseException:
        session.end()
        print(session.report(), file=sys.stderr)
        raise
    finally:
        session.end()
        shutil.rmtree(folder, ignore_errors=True)
    print(line)


if __name__ == "__main__":
    main(sys.argv[1:])
