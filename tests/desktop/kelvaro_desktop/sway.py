"""Sway on its headless backend, a tiling compositor, with swaybar's tray: "native" runs the programs as
Wayland clients, "xwayland" as X11 clients of sway's X server. Sway refuses to run as root: it, its session bus
and the programs run as the unprivileged user "nobody", in folders of that user's in FOLDER, which the caller
removes (a test's own folder lies where that user cannot reach)."""

import contextlib
import glob
import json
import os
import pwd
import shutil
import subprocess
from pathlib import Path

import pytest

from .session import TESTS
from .waits import wait_until
from .wayland import NATIVE_LEAKS
from .x11 import need_tools

USER = "nobody"


class Sway:
    def __init__(self, session, mode, folder):
        need_tools("sway", "swaymsg", "setpriv")
        if not glob.glob("/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so"):
            pytest.skip("qt6-wayland is not installed")
        if mode == "xwayland":
            need_tools("Xwayland")
            # Sway's X server binds its socket here, but does not make the folder.
            os.makedirs("/tmp/.X11-unix", mode=0o1777, exist_ok=True)
        self.session, self.mode = session, mode
        user = pwd.getpwnam(USER)
        self.uid, self.gid = user.pw_uid, user.pw_gid
        # Not a shell: signals sent to the process reach the program itself, which setpriv becomes.
        self.as_user = ["setpriv", f"--reuid={self.uid}", f"--regid={self.gid}", "--clear-groups"]
        self.folder = Path(folder)
        session.use_folders(self.folder)
        self.give_to_user()
        env = session.environment
        runtime = env["XDG_RUNTIME_DIR"]
        if self.run("test", "-w", runtime).returncode != 0:
            pytest.skip(f"{USER} cannot use the test's folders")
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        # The user's session bus, for swaybar's tray. Only its user may connect to it.
        env["DBUS_SESSION_BUS_ADDRESS"] = f"unix:path={runtime}/bus"
        self.bus = self.start("session-bus", "dbus-daemon", "--session", "--nofork",
                              f"--address={env['DBUS_SESSION_BUS_ADDRESS']}")
        wait_until(lambda: os.path.exists(f"{runtime}/bus"), "the session bus did not start", 30,
                   abort=lambda: None if self.bus.running() else "the session bus ended")
        config = self.folder / "sway.config"
        config.write_text("output HEADLESS-1 resolution 1600x1000\n"
                          f"xwayland {'enable' if mode == 'xwayland' else 'disable'}\n"
                          "bar {\n  position top\n  tray_output *\n}\n")
        self.process = self.start("sway", "sway", "-c", config, environment={
            "WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_RENDERER": "pixman"})

        def sockets():
            wayland = sorted(glob.glob(f"{runtime}/wayland-*[0-9]"))
            ipc = sorted(glob.glob(f"{runtime}/sway-ipc.*.sock"))
            return (wayland[0], ipc[0]) if wayland and ipc else None
        wayland, ipc = wait_until(sockets, "sway did not start", 30,
                                  abort=lambda: None if self.process.running() else "sway ended")
        env.update(WAYLAND_DISPLAY=os.path.basename(wayland), SWAYSOCK=ipc)
        if mode == "xwayland":
            # Sway gives its X server's display to the programs it starts.
            told = self.folder / "display"
            self.swaymsg(f"exec 'echo $DISPLAY >{told}.new && mv {told}.new {told}'")
            display = wait_until(lambda: told.exists() and told.read_text().strip(),
                                 "sway did not tell its X server's display", 30)
            env.update(DISPLAY=display, QT_QPA_PLATFORM="xcb")
        else:
            env["QT_QPA_PLATFORM"] = "wayland"
            env["ASAN_OPTIONS"] = "fast_unwind_on_malloc=0" + (f":{env['ASAN_OPTIONS']}" if env.get("ASAN_OPTIONS") else "")
            suppressions = self.folder / "lsan.supp"
            suppressions.write_text((TESTS / "lsan.supp").read_text() + "\n".join(NATIVE_LEAKS) + "\n")
            env["LSAN_OPTIONS"] = f"suppressions={suppressions}:print_suppressions=0"
        self.give_to_user()

    def give_to_user(self):
        """What the test wrote into the user's folders (preferences, say) becomes the user's. What sway's
        clients make and remove meanwhile in its runtime folder is the user's already and may be gone."""
        for folder, _, files in os.walk(self.folder):
            for path in (folder, *(os.path.join(folder, name) for name in files)):
                with contextlib.suppress(FileNotFoundError):
                    os.chown(path, self.uid, self.gid, follow_symlinks=False)

    def start(self, name, *command, environment=None):
        """A process of the session's, run as the user."""
        return self.session.start(name, *self.as_user, *command, environment=environment)

    def run(self, *command):
        """COMMAND as the user, to its end; its output as text."""
        return subprocess.run([*self.as_user, *map(str, command)], capture_output=True, text=True,
                              env=self.session.environment)

    def swaymsg(self, command):
        done = self.run("swaymsg", "-q", command)
        assert done.returncode == 0, f"sway did not take {command!r}: {done.stderr.strip()}"

    def tree(self):
        """Sway's tree of outputs, workspaces and windows; empty when it does not answer."""
        done = self.run("swaymsg", "-t", "get_tree")
        try:
            return json.loads(done.stdout) if done.returncode == 0 else {}
        except json.JSONDecodeError:
            return {}

    def windows(self):
        """The windows on sway, with no windows inside them: (id, title, floating, rect, window_rect) each,
        the floating from the bottom of their stack up."""
        found = []

        def walk(node, floating):
            if node.get("type") in ("con", "floating_con") and node.get("name") is not None \
                    and not node.get("nodes"):
                found.append((node["id"], node["name"], floating, node.get("rect"),
                              node.get("window_rect") or node.get("rect")))
            for child in node.get("nodes", []):
                walk(child, floating)
            for child in node.get("floating_nodes", []):
                walk(child, True)
        walk(self.tree(), False)
        return found

    def titles(self):
        """"floating TITLE" or "tiled TITLE" of each window."""
        return [("floating " if floating else "tiled ") + title for _, title, floating, _, _ in self.windows()]

    def tray_items(self):
        """The items swaybar's watcher registered: (bus name, path) each."""
        done = self.run("dbus-send", "--session", "--print-reply", "--dest=org.kde.StatusNotifierWatcher",
                        "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties.Get",
                        "string:org.kde.StatusNotifierWatcher", "string:RegisteredStatusNotifierItems")
        found = []
        for line in done.stdout.splitlines():
            line = line.strip()
            if line.startswith('string ":'):
                name, _, path = line[len('string "'):-1].partition("/")
                found.append((name, "/" + path))
        return found

    def context_menu(self, item, x, y):
        """A host without menus of its own asks for the menu at a point, as swaybar does on a click."""
        done = self.run("dbus-send", "--session", "--print-reply", f"--dest={item[0]}", item[1],
                        "org.kde.StatusNotifierItem.ContextMenu", f"int32:{x}", f"int32:{y}")
        assert done.returncode == 0, f"ContextMenu was not answered: {done.stderr.strip()}"

    def screenshot(self, name):
        """The output into $KELVARO_SCREENSHOT_DIR/NAME.png, when asked for: pictures for people to look at."""
        folder = os.environ.get("KELVARO_SCREENSHOT_DIR")
        if not folder:
            return
        shot = self.folder / "shot.png"
        if self.run("grim", shot).returncode == 0:
            shutil.copy(shot, f"{folder}/sway-{self.mode}-{name}.png")
