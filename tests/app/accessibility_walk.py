#!/usr/bin/python3
"""Walks the program's accessibility tree for one wheel model after another
and fails on any interactive control that has no name.

    accessibility_walk.py APP MODEL...

The first model is the wheel the emulator started with; each further one is
plugged in before the previous one is pulled, so that the program finds it at
once. Runs inside the test's session bus, without the umockdev preload.
"""
import os
import socket
import sys
import time

import pyatspi

# What a person can press, move, type into or must be told the state of.
INTERACTIVE = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
    pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_SLIDER, pyatspi.ROLE_PROGRESS_BAR,
    pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT,
    pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_SCROLL_BAR,
    pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_LINK, pyatspi.ROLE_MENU_ITEM,
}
# Well below the window's count on any model (over a hundred): a walk that
# sees fewer did not reach the window's widgets.
FEWEST_CONTROLS = 100
WAITING = "WAITING FOR DEVICE..."
# How the header begins: the model's name, OV410's own title, no wheel.
HEADERS = ("QUOR CONTROLS ", "Quor Controls - ", WAITING)
# Names every model's window carries, the status dot's among them.
EXPECTED = {"Wheel connected", "Minimise", "Close", "Button 12", "Left clutch paddle",
            "Encoder pulse width", "Bite point", "Firmware file or address", "Sky blue"}


def fail(message):
    print("FAIL:", message, file=sys.stderr)
    sys.exit(1)


def wait_for(what, probe, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            found = probe()
        except Exception:  # the tree changes under a walk while it reconnects
            found = None
        if found:
            return found
        time.sleep(0.2)
    fail("timed out waiting for " + what)


def application(name):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == name and app.childCount > 0:
            return app
    return None


def nodes(node, path=()):
    """Every node below node, with the roles and names leading to it."""
    here = path + ("%s %r" % (node.getRoleName(), node.name),)
    yield node, here
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from nodes(child, here)


def header(app):
    """The header's text: the model's name once a wheel is laid out."""
    for node, _ in nodes(app):
        if node.getRole() == pyatspi.ROLE_LABEL and node.name.startswith(HEADERS):
            return node.name
    return None


def command(line):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as control:
        control.connect(os.environ["WHEEL_EMULATOR_CONTROL"])
        control.sendall((line + "\n").encode())
        answer = control.makefile().readline().strip()
    if not answer.startswith("ok"):
        fail("emulator: %s: %s" % (line, answer))
    return answer


def check(app, model):
    controls, unnamed, names = 0, [], set()
    for node, path in nodes(app):
        names.add(node.name)
        if node.getRole() in INTERACTIVE:
            controls += 1
            if not node.name.strip():
                unnamed.append(" > ".join(path))
    print("%s: %d controls, %d without a name" % (model, controls, len(unnamed)))
    for path in unnamed:
        print("  unnamed:", path)
    if controls < FEWEST_CONTROLS:
        fail("%s: only %d controls in the tree" % (model, controls))
    missing = EXPECTED - names
    for name in sorted(missing):
        print("  missing:", name)
    return not unnamed and not missing


def main():
    name, models = sys.argv[1], sys.argv[2:]
    app = wait_for("the program in the accessibility tree", lambda: application(name))
    shown = wait_for("the first wheel", lambda: (h := header(app)) and h != WAITING and h)
    ok = check(app, models[0] + " (" + shown + ")")
    for switch, model in enumerate(models[1:]):
        command("add-wheel " + model)
        # Wheel 1 stays on the emulator's list, unplugged; the wheels added
        # later move up a place when the one before them goes, so the wheel
        # shown is always number 2.
        command("remove-wheel 2" if switch else "unplug")
        before = shown
        shown = wait_for("%s (header still %r)" % (model, before),
                         lambda: (h := header(app)) not in (None, WAITING, before) and h)
        ok = check(app, model + " (" + shown + ")") and ok
    if not ok:
        fail("controls without a name")


main()
