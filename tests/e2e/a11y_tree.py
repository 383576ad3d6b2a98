#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Prints, as JSON, the accessibility tree of the applications on the session
bus named by DBUS_SESSION_BUS_ADDRESS: a list of nodes {"role", "name",
"children"}. Qt exposes a label's text and a list line's text as the node's
name, so message-box texts and the lines of a list box can be read from here.

Run as its own process for each look: the AT-SPI library keeps its first bus
connection for the life of the process, and every case has its own bus.
Needs python3-gi and gir1.2-atspi-2.0.
"""
import json
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

# A node deeper or wider than this is not a window of ours; the bounds keep a
# confused peer from making this walk forever.
MAX_DEPTH = 12
MAX_CHILDREN = 2000


def node(accessible, depth):
    entry = {"role": accessible.get_role_name(), "name": accessible.get_name() or "", "children": []}
    if depth < MAX_DEPTH:
        count = min(accessible.get_child_count(), MAX_CHILDREN)
        for index in range(count):
            child = accessible.get_child_at_index(index)
            if child is not None:
                entry["children"].append(node(child, depth + 1))
    return entry


def main():
    # Calls to a program that is busy with its instrument would wait for it;
    # give up after a few seconds instead.
    Atspi.set_timeout(4000, 4000)
    desktop = Atspi.get_desktop(0)
    applications = []
    for index in range(desktop.get_child_count()):
        application = desktop.get_child_at_index(index)
        if application is not None:
            applications.append(node(application, 0))
    json.dump(applications, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
