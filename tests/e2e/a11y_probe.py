#!/usr/bin/python3
"""An assistive-technology client on the AT-SPI bus, independent of the program's code.
   a11y_probe.py dump PID           prints every object of the application of process PID, one per
                                    line: ROLE<TAB>NAME<TAB>DESCRIPTION<TAB>X Y W H (its extents
                                    on the screen)
   a11y_probe.py press PID NAME     performs the first action of the first object named NAME
   a11y_probe.py set PID NAME VALUE sets the value of the first object named NAME that has one
Both wait up to 10 s for the application to appear on the bus; exit code 1 when it does not (or
when no object is named NAME)."""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def application(pid):
    end = time.time() + 10
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


def main():
    command, pid = sys.argv[1], int(sys.argv[2])
    app = application(pid)
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
    if command == "press":
        for node in walk(app):
            try:
                if node.get_name() == sys.argv[3] and "Action" in node.get_interfaces():
                    return 0 if Atspi.Action.do_action(node, 0) else 1
            except gi.repository.GLib.Error:
                continue
        print("nothing named %r to press" % sys.argv[3], file=sys.stderr)
        return 1
    if command == "set":
        for node in walk(app):
            try:
                if node.get_name() == sys.argv[3] and "Value" in node.get_interfaces():
                    return 0 if Atspi.Value.set_current_value(node, float(sys.argv[4])) else 1
            except gi.repository.GLib.Error:
                continue
        print("nothing named %r with a value" % sys.argv[3], file=sys.stderr)
        return 1
    return 2


sys.exit(main())
