#!/usr/bin/python3
"""An assistive-technology client on the AT-SPI bus, independent of the program's code.
   a11y_probe.py dump PID           prints every object of the application of process PID, one per
                                    line: ROLE<TAB>NAME<TAB>DESCRIPTION<TAB>X Y W H (its extents
                                    on the screen)
   a11y_probe.py press PID NAME     performs the first action of the first object named NAME that
                                    shows and is enabled
   a11y_probe.py wait PID NAME [STATE]
                                    prints the extents of the first object named NAME that shows
                                    (and has STATE, e.g. "focused")
   a11y_probe.py set PID NAME VALUE sets the value of the first object named NAME that has one
Each waits for the application to appear on the bus and for the object, up to QR_A11Y_WAIT seconds
(default 20): a dialog is found by what it holds, however long it takes to come. Exit code 1 when
the time runs out."""
import os
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


WAIT = float(os.environ.get("QR_A11Y_WAIT", "20"))


def application(pid, end):
    while time.time() < end:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except gi.repository.GLib.Error:
                continue
        time.sleep(0.2)
    return None


def walk(node, depth=0):
    if node is None or depth > 64:
        return
    yield node
    try:
        n = node.get_child_count()
    except gi.repository.GLib.Error:
        return
    for i in range(n):
        try:
            child = node.get_child_at_index(i)
        except gi.repository.GLib.Error:
            continue
        yield from walk(child, depth + 1)


def extents_of(node):
    if "Component" not in node.get_interfaces():
        return "-"
    e = Atspi.Component.get_extents(node, Atspi.CoordType.SCREEN)
    return "%d %d %d %d" % (e.x, e.y, e.width, e.height)


def clean(s):
    return (s or "").replace("\t", " ").replace("\n", " ")


def showing(node, state=None):
    states = node.get_state_set()
    if not states.contains(Atspi.StateType.SHOWING):
        return False
    return state is None or states.contains(getattr(Atspi.StateType, state.upper()))


def find(app, end, accept):
    """The first object accept() takes, looked for until end."""
    while True:
        for node in walk(app):
            try:
                if accept(node):
                    return node
            except gi.repository.GLib.Error:
                continue
        if time.time() >= end:
            return None
        time.sleep(0.2)


def main():
    command, pid = sys.argv[1], int(sys.argv[2])
    end = time.time() + WAIT
    app = application(pid, end)
    if app is None:
        print("no application of process %d on the accessibility bus" % pid, file=sys.stderr)
        return 1
    if command == "dump":
        for node in walk(app):
            try:
                fields = [node.get_role_name(), node.get_name(), node.get_description(), extents_of(node)]
            except gi.repository.GLib.Error:
                continue
            print("\t".join(clean(f) for f in fields), flush=True)
        return 0
    name = sys.argv[3]
    if command == "press":
        node = find(app, end, lambda n: n.get_name() == name and "Action" in n.get_interfaces()
                    and showing(n, "enabled"))
        if node is None:
            print("nothing named %r to press" % name, file=sys.stderr)
            return 1
        return 0 if Atspi.Action.do_action(node, 0) else 1
    if command == "wait":
        state = sys.argv[4] if len(sys.argv) > 4 else None
        node = find(app, end, lambda n: n.get_name() == name and showing(n, state))
        if node is None:
            print("nothing named %r shows%s" % (name, " " + state if state else ""), file=sys.stderr)
            return 1
        print(extents_of(node))
        return 0
    if command == "set":
        node = find(app, end, lambda n: n.get_name() == name and "Value" in n.get_interfaces())
        if node is None:
            print("nothing named %r with a value" % name, file=sys.stderr)
            return 1
        return 0 if Atspi.Value.set_current_value(node, float(sys.argv[4])) else 1
    return 2


sys.exit(main())
