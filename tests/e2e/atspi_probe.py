#!/usr/bin/env python3
"""What a screen reader learns of a program over AT-SPI, printed as JSON.

    atspi_probe.py tree PID     the program's windows: role, name, whether focused, the names
                                of the labels it is labelled by, its key bindings, its children
    atspi_probe.py alert PID    prints "ready" once it listens, then the first alert that the
                                program shows (role and name), or null after 60 s

Runs in the AT-SPI bus of DBUS_SESSION_BUS_ADDRESS, under a Python that has pyatspi (Debian's
python3-pyatspi).
"""

import json
import sys

import pyatspi
from gi.repository import GLib


def application(pid):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def describe(node):
    labels = [relation.getTarget(i).name for relation in node.getRelationSet()
              if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
              for i in range(relation.getNTargets())]
    try:
        action = node.queryAction()
        keys = [action.getKeyBinding(i) for i in range(action.nActions)]
    except NotImplementedError:
        keys = []
    return {"role": node.getRoleName(), "name": node.name,
            "focused": node.getState().contains(pyatspi.STATE_FOCUSED),
            "labelled_by": labels, "keys": keys,
            "children": [describe(child) for child in node if child is not None]}


def wait_for_alert(pid):
    found = []

    def shown(event):
        if (event.detail1 and event.host_application.get_process_id() == pid
                and event.source.getRole() == pyatspi.ROLE_ALERT):
            found.append({"role": event.source.getRoleName(), "name": event.source.name})
            pyatspi.Registry.stop()

    pyatspi.Registry.registerEventListener(shown, "object:state-changed:showing")
    GLib.timeout_add_seconds(60, pyatspi.Registry.stop)
    GLib.idle_add(lambda: print("ready", flush=True))
    pyatspi.Registry.start()
    return found[0] if found else None


def main():
    command, pid = sys.argv[1], int(sys.argv[2])
    if command == "tree":
        app = application(pid)
        print(json.dumps([describe(window) for window in app] if app else None))
    else:
        print(json.dumps(wait_for_alert(pid)), flush=True)


if __name__ == "__main__":
    main()
