"""StatusNotifier items as a tray host reads them over the session bus (python3-dbus): the items a program
registered or exports, their state, colour and menu."""

import time
import xml.etree.ElementTree as ET
from dataclasses import dataclass
from pathlib import Path

import pytest

from .waits import wait_until

try:
    import dbus
except ImportError:  # skipped by need_dbus
    dbus = None


def need_dbus():
    if dbus is None:
        pytest.skip("python3-dbus is missing")


def start_test_watcher(session):
    """The test watcher (sni_watcher.py) on the session's bus, once it owns its name: a StatusNotifierWatcher
    without a host, which prints "registered SENDER SERVICE" for each item in the order they came."""
    watcher = session.start("watcher", "/usr/bin/python3", Path(__file__).with_name("sni_watcher.py"))
    wait_until(lambda: "watching" in watcher.output(), "the test watcher did not start", 30,
               abort=lambda: None if watcher.running() else f"the test watcher ended ({watcher.status()})")
    return watcher


@dataclass
class Item:
    path: str
    status: str  # "Active", "Passive", or "unreadable"
    colour: str  # the slot colour most of its pixmap has: red, green, blue, other or none
    is_menu: bool
    menu: str
    tooltip: str
    owner: str


def colour_of(pixmaps):
    if not pixmaps:
        return "none"
    _, _, data = max(pixmaps, key=lambda p: p[0] * p[1])
    data = bytes(data)
    votes = {"red": 0, "green": 0, "blue": 0}
    for i in range(0, len(data), 4):
        a, r, g, b = data[i:i + 4]
        for name, (c, o1, o2) in {"red": (r, g, b), "green": (g, r, b), "blue": (b, r, g)}.items():
            if a > 200 and c > 120 and c > o1 + 80 and c > o2 + 80:
                votes[name] += 1
    best = max(votes, key=votes.get)
    return best if votes[best] > 5 else "other"


def _bus(session):
    return dbus.bus.BusConnection(session.environment["DBUS_SESSION_BUS_ADDRESS"])


def _names_of(bus, pid):
    daemon = bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")
    names = [n for n in daemon.ListNames(dbus_interface="org.freedesktop.DBus") if n.startswith(":")]
    mine = []
    for name in names:
        try:
            if daemon.GetConnectionUnixProcessID(name, dbus_interface="org.freedesktop.DBus") == pid:
                mine.append(str(name))
        except dbus.DBusException:
            continue
    return mine


def bus_names(session, pid):
    """The unique names of PID's connections to the session's bus."""
    bus = _bus(session)
    try:
        return _names_of(bus, pid)
    finally:
        bus.close()


def items(session, pid, own=False):
    """The items of PID: those the watcher has registered, in its order, or with OWN those PID exports on
    the bus, whether or not a watcher took them."""
    bus = _bus(session)
    try:
        mine = _names_of(bus, pid)
        if own:
            entries = []
            for name in mine:
                try:
                    node = ET.fromstring(bus.get_object(name, "/StatusNotifierItem", introspect=False).Introspect(
                        dbus_interface="org.freedesktop.DBus.Introspectable", timeout=10))
                except dbus.DBusException:
                    continue
                entries += [f"{name}/StatusNotifierItem/{child.get('name')}" for child in node.findall("node")]
        else:
            try:
                watcher = bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", introspect=False)
                entries = [str(e) for e in watcher.Get("org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems",
                                                       dbus_interface="org.freedesktop.DBus.Properties", timeout=10)]
            except dbus.DBusException:
                entries = []
        found = []
        for entry in entries:
            name, path = entry.split("/", 1)
            if name not in mine:
                continue
            try:
                p = bus.get_object(name, "/" + path, introspect=False).GetAll(
                    "org.kde.StatusNotifierItem", dbus_interface="org.freedesktop.DBus.Properties", timeout=10)
            except dbus.DBusException:
                found.append(Item("/" + path, "unreadable", "none", False, "", "", name))
                continue
            found.append(Item("/" + path, str(p["Status"]), colour_of(p["IconPixmap"]), bool(p["ItemIsMenu"]),
                              str(p["Menu"]), str(p["ToolTip"][2]), name))
        return found
    finally:
        bus.close()


def active_colours(session, pid, own=False):
    return [item.colour for item in items(session, pid, own) if item.status == "Active"]


def menu_labels(session, owner, path):
    """The top level of an exported menu as a host reads it: (id, label) each, mnemonics dropped."""
    bus = _bus(session)
    try:
        menu = bus.get_object(owner, path, introspect=False)
        _, (_, _, children) = menu.GetLayout(0, -1, dbus.Array([], signature="s"),
                                             dbus_interface="com.canonical.dbusmenu", timeout=10)
        return [(int(cid), str(props.get("label", "-")).replace("_", "")) for cid, props, _ in children]
    finally:
        bus.close()


def context_menu(session, owner, path, x, y):
    """A host without a menu of its own asks for it at a point."""
    bus = _bus(session)
    try:
        bus.get_object(owner, path, introspect=False).ContextMenu(
            dbus.Int32(x), dbus.Int32(y), dbus_interface="org.kde.StatusNotifierItem", timeout=10)
    finally:
        bus.close()


def shown_items(session, pid):
    """The items of PID a host shows: registered with the watcher and not passive (an item the program keeps
    for later is hidden so)."""
    return [item for item in items(session, pid) if item.status != "Passive"]


def click_menu_item(session, pid, label):
    """Clicks the item LABEL (mnemonics dropped) of the menu of PID's first shown item, anywhere in its tree,
    as a StatusNotifier host does: the menu is about to be shown, then the item is clicked."""
    found = shown_items(session, pid)
    assert found, f"no tray item of process {pid}"
    item = found[0]
    assert item.menu, "the tray item exports no menu"
    bus = _bus(session)
    try:
        menu = bus.get_object(item.owner, item.menu, introspect=False)
        _, layout = menu.GetLayout(0, -1, dbus.Array([], signature="s"), dbus_interface="com.canonical.dbusmenu",
                                   timeout=10)

        def walk(node):
            ident, props, children = node
            if str(props.get("label", "")).replace("_", "") == label:
                return int(ident)
            return next((found for found in map(walk, children) if found is not None), None)
        ident = walk(layout)
        assert ident is not None, f"the tray menu has no item '{label}'"
        try:
            menu.AboutToShow(dbus.Int32(0), dbus_interface="com.canonical.dbusmenu", timeout=10)
        except dbus.DBusException:
            pass
        try:
            menu.Event(dbus.Int32(ident), "clicked", dbus.String("", variant_level=1), dbus.UInt32(int(time.time())),
                       dbus_interface="com.canonical.dbusmenu", timeout=10)
        except dbus.DBusException as e:
            raise AssertionError(f"the tray menu did not take the click on '{label}': {e}") from None
    finally:
        bus.close()
