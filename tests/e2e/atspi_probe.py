#!/usr/bin/env python3
"""The windows of the program with process id argv[1] as a screen reader gets them over AT-SPI,
printed as JSON: for each window's name, its objects in reading order, each with its role,
name, whether it has the focus, the names of the labels that it is labelled by and its key
bindings. Runs on the AT-SPI bus of DBUS_SESSION_BUS_ADDRESS, under a Python that has pyatspi
(Debian's python3-pyatspi)."""

import json
import sys

import pyatspi


def objects(node):
    labels = [relation.getTarget(i).name for relation in node.getRelationSet()
              if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
              for i in range(relation.getNTargets())]
    try:
        action = node.queryAction()
        keys = [action.getKeyBinding(i) for i in range(action.nActions)]
    except NotImplementedError:
        keys = []
    yield {"role": node.getRoleName(), "name": node.name, "labelled_by": labels, "keys": keys,
           "focused": node.getState().contains(pyatspi.STATE_FOCUSED)}
    for child in node:
        if child is not None:
            yield from objects(child)


pid = int(sys.argv[1])
apps = [app for app in pyatspi.Registry.getDesktop(0) if app and app.get_process_id() == pid]
print(json.dumps({window.name: list(objects(window)) for app in apps for window in app}))
