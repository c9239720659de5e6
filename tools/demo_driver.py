#!/usr/bin/python3
"""Drives the running launcher through its real window as a user would, and saves a screenshot of each state.

Finds the buttons through the accessibility tree (AT-SPI), moves the mouse onto each and clicks it (xdotool),
waits until the window is idle again, saves the window to PNG files (ImageMagick's import), and fails when a
press ends with another status than the story expects.
Usage: demo_driver.py <screenshot folder>
"""
import os
import re
import subprocess
import sys
import time

import pyatspi

# Each press, its screenshot's name, and how the status line begins once the run has ended on a fresh data folder.
STEPS = [("检测环境", "check", "运行环境尚未安装"), ("一键安装环境", "install", "环境安装完成"),
         ("检测环境", "check-again", "环境就绪"), ("启动", "launch", "前端已启动：")]
TIMEOUT = 300


def walk(node):
    yield node
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is not None:
            yield from walk(child)


def launcher():
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            if app is not None and app.name == "LanqiLauncher":
                for node in walk(app):
                    if node.getRoleName() == "push button" and node.name == "检测环境":
                        return app
        time.sleep(0.2)
    sys.exit("the launcher's window did not appear")


def find(app, role, name=None):
    for node in walk(app):
        if node.getRoleName() == role and (name is None or node.name == name):
            return node
    return None


def usable(node):
    states = node.getState()
    return states.contains(pyatspi.STATE_ENABLED) and states.contains(pyatspi.STATE_SHOWING)


def wait_for(predicate, what):
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.1)
    sys.exit("timed out waiting for " + what)


def click(node):
    x, y, width, height = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    subprocess.run(["xdotool", "mousemove", str(x + width // 2), str(y + height // 2), "click", "1"], check=True)


def after_models(app):
    """The labels with text that follow the model list: the status line, then the detail text when shown."""
    labels = [node for node in walk(app) if node.getRoleName() == "label" and node.name]
    for index, node in enumerate(labels):
        if node.name.startswith("生图："):
            return labels[index + 1:]
    return []


def status_text(app):
    """The status line."""
    labels = after_models(app)
    return labels[0].name if labels else ""


def progress_text(app):
    """The progress line beside the spinner while a run is under way ("正在安装 2/3：…"), or nothing."""
    for node in walk(app):
        if node.getRoleName() == "label" and re.match(r"正在\S+ \d+/\d+：", node.name or ""):
            return node.name
    return ""


def context_menu(app, path):
    """Opens the detail text's context menu with the right mouse button, pictures it (the items that Qt itself
    draws, "Copy" and "Select All", read in Chinese from the translation that the bundle carries), closes it."""
    x, y, width, height = after_models(app)[1].queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    subprocess.run(["xdotool", "mousemove", str(x + 20), str(y + height // 2), "click", "3"], check=True)
    time.sleep(1)
    screenshot(app, path)
    subprocess.run(["xdotool", "key", "Escape"], check=True)
    print("the detail's context menu (%s)" % path, flush=True)


def screenshot(app, path):
    frame = app.getChildAtIndex(0)  # the launcher's one window
    x, y, width, height = frame.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage", path],
                   check=True)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    app = launcher()
    screenshot(app, os.path.join(folder, "0-idle.png"))
    for number, (title, name, expected) in enumerate(STEPS, start=1):
        button = find(app, "push button", title)
        wait_for(lambda: button is not None and usable(button), "“%s” to be usable" % title)
        click(button)
        check = find(app, "push button", "检测环境")
        progress_shot = os.path.join(folder, "%d-%s-progress.png" % (number, name))

        def idle():
            # The first progress line of a long run is pictured too.
            line = "" if os.path.exists(progress_shot) else progress_text(app)
            if line:
                screenshot(app, progress_shot)
                print("%s … %s (%s)" % (title, line, progress_shot), flush=True)
            return usable(check)

        time.sleep(0.3)
        wait_for(idle, "the window to be idle after “%s”" % title)
        time.sleep(0.3)
        path = os.path.join(folder, "%d-%s.png" % (number, name))
        screenshot(app, path)
        status = status_text(app)
        print("%s → %s (%s)" % (title, status, path), flush=True)
        if not status.startswith(expected):
            sys.exit("after “%s” the status is “%s”, not “%s…”" % (title, status, expected))
        if number == 1:
            context_menu(app, os.path.join(folder, "1-check-menu.png"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
