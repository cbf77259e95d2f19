#!/usr/bin/python3
"""Drives the updater's wizard as a screen reader user would: through the
accessibility bus, finding controls by their accessible names and pressing
keys only. Prints as JSON what a screen reader was told and what the driver
found; exits 1 when a step did not come within TIMEOUT seconds. Makes the
file "listening" once it listens.

    atspi-drive.py TIMEOUT
"""
import json
import sys
import time

import pyatspi
from gi.repository import GLib

RETURN, SPACE = 0xFF0D, 0x20
told, found = [], {}


def page_of(node):
    while node is not None and not (node.name or "").startswith("Step "):
        node = node.parent
    return node.name if node is not None else ""


def heard(event):
    try:
        # Qt 6.4 sends no value with a change: the object is read as it is now.
        told.append({"event": event.type, "role": event.source.getRoleName(),
                     "text": event.source.description, "lines": event.source.childCount,
                     "page": page_of(event.source)})
    except GLib.Error:  # an object already gone tells nothing
        pass


def find(app, test):
    return pyatspi.findDescendant(app, test) if app is not None else None


def focus_read(app, step):
    """The focus as the tree shows it, when it is on the page of step: a focus
    given before the toolkit had joined the bus was told to no one, and a
    screen reader reads it so when the window comes."""
    node = find(app, lambda n: n.getState().contains(pyatspi.STATE_FOCUSED))
    if node is None or not page_of(node).startswith(step):
        return False
    told.append({"event": "read:focused", "role": node.getRoleName(), "text": node.description,
                 "lines": node.childCount, "page": page_of(node)})
    return True


def press_on_page(step, key, first=False):
    """Presses key once the focus is on the page of step: told, or on the
    first page, which may have come before the bridge, read."""
    def act(app):
        return (any(t["event"].endswith("focused") and t["page"].startswith(step) for t in told)
                or (first and focus_read(app, step))) and press(key)
    return act


def press(key):
    pyatspi.Registry.generateKeyboardEvent(key, None, pyatspi.KEY_SYM)
    return True


def box_checked(app):
    box = find(app, lambda n: n.name.startswith("Install the connection manager"))
    found["ticked"] = box is not None and box.getState().contains(pyatspi.STATE_CHECKED)
    return found["ticked"] and press(RETURN)


def question_answered(app):
    alert = find(app, lambda n: n.getRole() == pyatspi.ROLE_ALERT)
    found["question"] = alert.description if alert is not None else ""
    return alert is not None and press(RETURN)  # Yes, the box's default


STEPS = [press_on_page("Step 1 ", RETURN, first=True), press_on_page("Step 2 ", SPACE), box_checked,
         question_answered, lambda app: app is None]


def updater():
    return next((app for app in pyatspi.Registry.getDesktop(0)
                 if app is not None and app.name == "cmupdater"), None)


def main():
    deadline = time.monotonic() + float(sys.argv[1])
    for kind in ("object:state-changed:focused", "object:property-change:accessible-description"):
        pyatspi.Registry.registerEventListener(heard, kind)
    open("listening", "w").close()  # the updater may start

    def tick():
        try:
            if STEPS[0](updater()):
                STEPS.pop(0)
        except GLib.Error:  # the window changed while it was asked
            pass
        if not STEPS or time.monotonic() > deadline:
            pyatspi.Registry.stop()
        return bool(STEPS)

    GLib.timeout_add(100, tick)
    pyatspi.Registry.start()
    if STEPS:  # what the bus showed when the driver gave up
        found["tree"] = [f"{n.getRoleName()} '{n.name}' {n.getState().contains(pyatspi.STATE_FOCUSED)}"
                         for n in pyatspi.findAllDescendants(updater(), lambda n: True)] \
            if updater() is not None else "no updater"
    json.dump({"told": told, "found": found, "left": len(STEPS)}, sys.stdout, indent=1)
    return 1 if STEPS else 0


if __name__ == "__main__":
    sys.exit(main())
