#!/usr/bin/env python3
"""What a screen reader finds of a program's windows, through AT-SPI on the session bus's accessibility bus.

accessible_windows.py press PROGRAM MENU ITEM   presses the menu item ITEM of the menu MENU of the program's
                                                first window that has one; exit 1 when there is none.
accessible_windows.py tables PROGRAM PATTERN     one line per window whose title matches the regular expression
                                                PATTERN: the title, the rows of its first table, and how many of
                                                them are alike another row, tab-separated.
"""
import re
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def program(name):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        application = desktop.get_child_at_index(i)
        if application is not None and application.get_name() == name:
            return application
    return None


def descendants(node, role, depth=0):
    if node is None or depth > 12:
        return
    if node.get_role_name() == role:
        yield node
        return
    for i in range(node.get_child_count()):
        yield from descendants(node.get_child_at_index(i), role, depth + 1)


def windows(application):
    return [application.get_child_at_index(i) for i in range(application.get_child_count())] if application else []


def press(application, menu, item):
    for window in windows(application):
        for bar in descendants(window, "menu bar"):
            for i in range(bar.get_child_count()):
                title = bar.get_child_at_index(i)
                if title.get_name() != menu:
                    continue
                for popup in descendants(title.get_child_at_index(0), "popup menu"):
                    for j in range(popup.get_child_count()):
                        entry = popup.get_child_at_index(j)
                        if entry.get_name() == item:
                            return Atspi.Action.do_action(entry, 0)
    return False


def tables(application, pattern):
    for window in windows(application):
        title = window.get_name() or ""
        if not re.search(pattern, title):
            continue
        table = next(descendants(window, "table"), None)
        rows = Atspi.Table.get_n_rows(table) if table else 0
        columns = Atspi.Table.get_n_columns(table) if table else 0
        seen, alike = set(), 0
        for row in range(rows):
            text = "\t".join((Atspi.Table.get_accessible_at(table, row, column).get_name() or "")
                             for column in range(columns))
            alike += text in seen
            seen.add(text)
        print("%s\t%d\t%d" % (title, rows, alike))


if __name__ == "__main__":
    command, name = sys.argv[1], sys.argv[2]
    application = program(name)
    if command == "press":
        sys.exit(0 if application and press(application, sys.argv[3], sys.argv[4]) else 1)
    if command == "tables":
        tables(application, sys.argv[3])
        sys.exit(0)
    sys.exit(2)
