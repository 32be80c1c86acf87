#!/usr/bin/python3
"""Walks the Qt window's accessibility tree over AT-SPI, as a screen reader sees it, and fails
on a wrong or missing name.

    dbus-run-session -- xvfb-run -a /usr/bin/python3 atspi_test.py BUILD/app/gui/ostrapel_screenshot

The window is the screenshot tool's --loaded scene, kept open: four saves listed, one of which
cannot be read, and version 2.00 chosen; then its --report scene, the report box kept open; then
its --restore-menu scene, the file list's menu opened by Shift+F10 and kept open.
"""
import os
import re
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib

TITLE = "Ostrapel by Penmorrow"
# Roles whose objects a screen reader names when they show.
NAMED_ROLES = {"push button", "combo box", "list", "list item", "label", "panel", "menu item",
               "text", "check box", "image"}
EXPECTED = [
    ("frame", TITLE, ""),
    ("panel", "Open Folder save", ""),
    ("panel", "File List: saves", None),  # the folder listed
    ("push button", "Open Your save Folder", "Choose the folder your saves are in"),
    ("label", "Select DLC Version :", ""),
    ("combo box", "Select DLC Version", None),  # by its label, not by its value
    ("push button", "Apply and Save", None),
    ("list", "File List", None),
    ("list item", "slot1.sav, 2.00", ""),
    ("list item", "slot2.sav, 1.00", ""),
    ("list item", "slot3.sav, 250", ""),
    ("list", "Select DLC Version", None),  # the combo's pop-up
    ("list item", "4.00", None),
]


def walk(node, depth=0):
    if node is None or depth > 12:
        return
    yield node
    for i in range(node.childCount):
        yield from walk(node.getChildAtIndex(i), depth + 1)


def describe(node):
    return (node.getRoleName(), node.name or "", node.description or "")


def wait_for(find, what, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        found = find()
        if found is not None:
            return found
        time.sleep(0.2)
    raise AssertionError("not found: " + what)


def find_app():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is None:
            continue
        for child in app:
            if child is not None and child.name == TITLE:
                return app
    return None


def shown(tool, scene, folder):
    """The screenshot tool showing scene, once it is up."""
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               QT_ACCESSIBILITY="1", OSTRAPEL_SHOT_STAY="1")
    process = subprocess.Popen([tool, os.path.join(folder, "shot.png"), scene], env=env,
                               stdout=subprocess.PIPE, text=True)
    if process.stdout.readline().strip() != "shown":
        process.kill()
        raise AssertionError("the window did not show: " + scene)
    return process


def check_report(tool, folder, failures):
    """The report box is an alert, which a screen reader reads out as it shows, with its text."""
    process = shown(tool, "--report", folder)
    try:
        app = wait_for(find_app, "the window in the accessibility tree")
        alerts = [top for top in app if top is not None and top.getRoleName() == "alert"]
        texts = [node.name for alert in alerts for node in walk(alert)]
        if not any(text.startswith("Changed versions DLC in 4 files") for text in texts):
            failures.append("the report is not read out as an alert: %r" % texts)
    finally:
        process.terminate()
        process.wait(10)


def check_menu(tool, folder, failures):
    """Qt leaves pop-up menus out of the tree; the item taking the cursor is announced as the
    focus, which is what a screen reader reads out."""
    focused = []

    def on_focus(event):
        try:
            if event.detail1 == 1:
                focused.append((event.source.getRoleName(), event.source.name or ""))
        except GLib.Error:
            pass  # an object gone by the time its event is read

    pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")
    process = shown(tool, "--restore-menu", folder)
    try:
        context = GLib.MainContext.default()
        end = time.monotonic() + 10
        while time.monotonic() < end and not any(role == "menu item" for role, _ in focused):
            context.iteration(False)
            time.sleep(0.02)
        items = [name for role, name in focused if role == "menu item"]
        if not items or not items[0].startswith("1 Back to "):
            failures.append("the menu's first item is not announced: %r" % focused)
    finally:
        pyatspi.Registry.deregisterEventListener(on_focus, "object:state-changed:focused")
        process.terminate()
        process.wait(10)


def check_progress(tool, folder, failures):
    """During a batch the list's frame is named by the pass and the count over all passes."""
    process = shown(tool, "--batch", folder)
    try:
        app = wait_for(find_app, "the window in the accessibility tree")
        window = next(child for child in app if child is not None and child.name == TITLE)
        progress = re.compile(r"^(Reading|Checking|Converting|Replacing) \d+ of \d+: \S")
        panels = [node.name for node in walk(window) if node.getRoleName() == "panel"]
        if not any(progress.match(name) for name in panels):
            failures.append("no progress in the frame's name: %r" % panels)
    finally:
        process.terminate()
        process.wait(10)


def main():
    tool = sys.argv[1]
    failures = []
    seen = []
    with tempfile.TemporaryDirectory() as folder:
        process = shown(tool, "--loaded", folder)
        try:
            app = wait_for(find_app, "the window in the accessibility tree")
            window = next(child for child in app if child is not None and child.name == TITLE)
            seen = [describe(node) for node in walk(window)]

            for role, name, description in EXPECTED:
                if not any(s[0] == role and s[1] == name and
                           (description is None or s[2] == description) for s in seen):
                    failures.append("missing: %s %r %r" % (role, name, description or ""))
            unread = [s for s in seen if s[0] == "list item" and s[1] == "profile.sav, not read"]
            if not unread or "cipher tool" not in unread[0][2]:
                failures.append("the row not read does not say why: %r" % unread)
            # The combo box is named by its label, as the platform has it.
            combo = next(node for node in walk(window) if node.getRoleName() == "combo box")
            labels = [target.name for relation in combo.getRelationSet()
                      if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
                      for target in (relation.getTarget(i) for i in range(relation.getNTargets()))]
            if "Select DLC Version :" not in labels:
                failures.append("the combo box is labelled by %r" % labels)
            if not any(s[1] == "Ostrapel logo" for s in seen):
                failures.append("the logo is not named as the logo")
            buttons = {s[1] for s in seen if s[0] == "push button"}
            for role, name, description in seen:
                if description and description == name:
                    failures.append("the description says the name again: %s %r" % (role, name))
                if role == "label" and name in buttons:
                    failures.append("a label says a button's name again: %r" % name)
                if "EditPanel" in name or role == "text":
                    failures.append("the hidden edit panel is read out: %s %r" % (role, name))
                if role in NAMED_ROLES and not name.strip():
                    failures.append("no name: %s" % role)
                if "&" in name:
                    failures.append("an access key mark is read out: %r" % name)

        finally:
            process.terminate()
            process.wait(10)
        check_report(tool, folder, failures)
        check_menu(tool, folder, failures)
        check_progress(tool, folder, failures)
    # The pop-ups (the list's menu) are no children of the application: the window's own test
    # checks what they expose.
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        print("seen:")
        for entry in seen:
            print("   ", entry)
        return 1
    print("PASS: %d objects named as they should be" % len(seen))
    return 0


if __name__ == "__main__":
    sys.exit(main())
