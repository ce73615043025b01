#!/usr/bin/python3
"""accessibility_walk.py APP MODEL...: walks the program's accessibility tree
for one wheel model after another and fails on any interactive control that
has no name. The first model is the wheel the emulator started with; each
further one is plugged in before the previous one is pulled, so that the
program finds it at once."""
import os
import socket
import sys
import time

import pyatspi

# What a person can press, move, type into or must be told the state of.
INTERACTIVE = {getattr(pyatspi, "ROLE_" + role) for role in (
    "PUSH_BUTTON TOGGLE_BUTTON CHECK_BOX RADIO_BUTTON SLIDER PROGRESS_BAR TEXT ENTRY "
    "PASSWORD_TEXT SPIN_BUTTON COMBO_BOX SCROLL_BAR PAGE_TAB LINK MENU_ITEM").split()}
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
    apps = (desktop.getChildAtIndex(i) for i in range(desktop.childCount))
    return next((a for a in apps if a is not None and a.name == name and a.childCount > 0), None)


def nodes(node, path=()):
    """Every node below node, with the roles and names leading to it."""
    here = path + ("%s %r" % (node.getRoleName(), node.name),)
    yield node, here
    for child in (node.getChildAtIndex(i) for i in range(node.childCount)):
        if child is not None:
            yield from nodes(child, here)


def header(app):
    """The header's text: the model's name once a wheel is laid out."""
    return next((node.name for node, _ in nodes(app)
                 if node.getRole() == pyatspi.ROLE_LABEL and node.name.startswith(HEADERS)), None)


def command(line):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as control:
        control.connect(os.environ["WHEEL_EMULATOR_CONTROL"])
        control.sendall((line + "\n").encode())
        answer = control.makefile().readline().strip()
    if not answer.startswith("ok"):
        fail("emulator: %s: %s" % (line, answer))


def check(app, model):
    walked = list(nodes(app))
    controls = [(node, path) for node, path in walked if node.getRole() in INTERACTIVE]
    unnamed = [path for node, path in controls if not node.name.strip()]
    missing = EXPECTED - {node.name for node, _ in walked}
    print("%s: %d controls, %d without a name" % (model, len(controls), len(unnamed)))
    if len(controls) < FEWEST_CONTROLS:
        fail("%s: only %d controls in the tree" % (model, len(controls)))
    for path in unnamed:
        print("  unnamed:", " > ".join(path))
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
