"""Reads the running qelwin over AT-SPI as a screen reader does: the screen
view's text and caret, and the names of menus, toolbar buttons and status
panels. Prints what it found; exits 1 when something is missing."""
import sys
import time

import pyatspi


def walk(node, depth=0):
    if node is None or depth > 14:
        return
    yield node
    try:
        children = list(node)
    except Exception:
        return
    for child in children:
        yield from walk(child, depth + 1)


def find_application(name, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name.lower() == name.lower():
                return app
        time.sleep(0.3)
    return None


def main():
    expected_text = sys.argv[1]
    app = find_application("qelwin", 30)
    if app is None:
        print("FAIL: qelwin is not on the accessibility bus")
        return 1
    deadline = time.time() + 20
    while True:
        nodes = list(walk(app))
        terminal = next((n for n in nodes if n.getRoleName() == "terminal"), None)
        text = terminal.queryText() if terminal else None
        content = text.getText(0, -1) if text else ""
        if expected_text in content or time.time() > deadline:
            break
        time.sleep(0.3)
    if terminal is None:
        print("FAIL: no node with the terminal role")
        return 1
    if expected_text not in content:
        print("FAIL: the screen text does not hold %r" % expected_text)
        return 1
    if not 0 <= text.caretOffset <= text.characterCount:
        print("FAIL: caret offset %d outside the text" % text.caretOffset)
        return 1
    names = {n.name for n in nodes if n.name}
    missing = [name for name in ("File", "Edit", "Setup", "Transfer", "Window", "Help", "MH", "CM", "80x24")
               if name not in names]
    if missing:
        print("FAIL: no accessible node named %s" % ", ".join(missing))
        return 1
    print("screen text %d characters, caret at %d" % (text.characterCount, text.caretOffset))
    return 0


sys.exit(main())
