#!/usr/bin/python3
"""Drives the input's probe page (input_probe.html) in headless Chromium.

Serves the WebAssembly build's probe folder on a free loopback port and sends
real input through the DevTools protocol, first at a desktop's size (mouse and
keys), then at a phone's (touches, the on-screen keyboard's field), and checks
what the game's input queries answer, case by case from one table: the pointer
in the game's pixels whatever the page scaled the canvas to, the buttons, no
context menu, keys the page would take kept by the game and those the browser
keeps left to it, typed characters, everything let go on blur, pointer lock
(granted or refused), relative and absolute touches, and gamepads (none, then
faked through navigator.getGamepads). Prints one line per failed check and
exits 1 when any failed; 77 when the browser is missing and CI is not set.

Usage: input_page.py PROBE_FOLDER
"""

import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from browser_checks import (CanvasInput, check, chromium_session, failures,  # noqa: E402
                            run_script, serve_folder, wait_for)

# The game's logical screen the probe opens.
WIDTH, HEIGHT = 1280, 960
# Probe queries (input_probe.cpp).
MOUSE_X, MOUSE_Y, MOUSE_DOWN, MOUSE_HIT, KEY_DOWN, KEY_HIT, GET_CHAR = range(7)
LOCKED, JOY_COUNT, JOY_MASK, JOY_DOWN, FLUSH, LOCK_LOST = range(7, 13)
# Probe settings.
LOCK_WANTED, TOUCH_RELATIVE, TEXT_WANTED, PLACE = range(4)
LEFT, RIGHT, MIDDLE = 1, 2, 3
NO_PAD_NOTE = ("No gamepad seen yet: press a button on it (pads show only on secure pages: "
               "localhost or https)")
FIELD = "document.activeElement && document.activeElement.getAttribute('aria-label')"


class Page(CanvasInput):
    """The probe page in one browser: input sent, answers read."""

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def query(self, what, arg=0):
        return self.js("return Module._probe_query(%d, %d)" % (what, arg))

    def set(self, what, value):
        self.js("Module._probe_set(%d, %d)" % (what, value))

    def chars(self):
        """Returns the typed characters the game has not read yet."""
        out = ""
        for _ in range(64):
            c = self.query(GET_CHAR)
            if not c:
                break
            out += chr(c)
        return out

    def pixel_slack(self):
        """Returns how far one page pixel reaches in the game's pixels: events land on whole
        page pixels."""
        return math.ceil(WIDTH / self.rect()[2]) + 1


def step(page, s):
    """Sends one step of a case: ("move"|"down"|"up", fx, fy[, button]), ("key", kind,
    key, code, vk[, text, modifiers, repeat]), ("touch", kind, points), ("set", what,
    value), ("js", script)."""
    kind = s[0]
    if kind in ("move", "down", "up"):
        button = s[3] if len(s) > 3 else "none"
        mask = {"none": 0, "left": 1, "right": 2, "middle": 4}[button]
        cdp_kind = {"move": "mouseMoved", "down": "mousePressed", "up": "mouseReleased"}[kind]
        page.mouse(cdp_kind, s[1], s[2], button, mask if kind == "down" else 0)
    elif kind == "key":
        page.key(*s[1:])
    elif kind == "touch":
        page.touch(s[1], s[2])
    elif kind == "set":
        page.set(s[1], s[2])
    elif kind == "js":
        page.js(s[1])
    else:
        raise ValueError(kind)


def observe(page, e):
    """Returns what the page answers for one expectation."""
    kind = e[0]
    if kind in ("x", "y"):
        return page.query(MOUSE_X if kind == "x" else MOUSE_Y)
    if kind == "mouse":
        return page.query(MOUSE_DOWN, e[1])
    if kind == "key":
        return page.query(KEY_DOWN, e[1])
    if kind == "keyhit":
        return page.query(KEY_HIT, e[1])
    if kind == "chars":
        return page.chars()
    if kind == "query":
        return page.query(e[1], e[2])
    if kind == "js":
        return page.js("return " + e[1])
    raise ValueError(kind)


def matches(page, e, got):
    want = e[-1]
    if e[0] in ("x", "y"):
        return isinstance(got, int) and abs(got - want) <= page.pixel_slack()
    return got == want


def run_cases(page, cases):
    """Runs each case's steps, then checks each expectation (with a bounded wait)."""
    for what, steps, expected in cases:
        for s in steps:
            step(page, s)
        for e in expected:
            got = wait_for(what, lambda: (lambda g: ("ok", g) if matches(page, e, g) else None)(
                observe(page, e)), seconds=2)
            if not got:
                check(False, "%s: %s wanted %r, got %r" % (what, e[:-1], e[-1], observe(page, e)))


def at(fx, fy):
    """Returns the game's pixel a fraction of the canvas stands for."""
    return [("x", fx * WIDTH), ("y", fy * HEIGHT)]


# Mouse and keys at a desktop's size.
DESKTOP_CASES = [
    ("the pointer in the game's pixels", [("move", 0.25, 0.5)], at(0.25, 0.5)),
    ("another place", [("move", 0.75, 0.125)], at(0.75, 0.125)),
    ("a move off the canvas with no button held changes nothing",
     [("js", "window.scrollTo(0, 0)"), ("move", -0.01, 1.02)], at(0.75, 0.125)),
    ("the left button", [("down", 0.5, 0.5, "left")],
     at(0.5, 0.5) + [("mouse", LEFT, 1), ("mouse", RIGHT, 0), ("mouse", MIDDLE, 0)]),
    ("a drag off the canvas keeps the pointer at its edge",
     [("move", 1.2, 0.5, "left"), ("up", 1.2, 0.5, "left")],
     [("mouse", LEFT, 0), ("x", WIDTH - 1), ("y", HEIGHT / 2)]),
    ("the right button, with no context menu", [("down", 0.5, 0.25, "right")],
     [("mouse", RIGHT, 1), ("mouse", LEFT, 0), ("js", "zqSeen.prevented.contextmenu", True)]),
    ("the right button let go", [("up", 0.5, 0.25, "right")], [("mouse", RIGHT, 0)]),
    ("the middle button", [("down", 0.5, 0.5, "middle")], [("mouse", MIDDLE, 1)]),
    ("the middle button let go", [("up", 0.5, 0.5, "middle")], [("mouse", MIDDLE, 0)]),
    ("the click gave the canvas the keys",
     [], [("js", "document.activeElement === Module.canvas", True)]),
    ("Tab stays with the game", [("key", "rawKeyDown", "Tab", "Tab", 9)],
     [("key", 9, 1), ("js", "zqSeen.prevented['keydown:Tab']", True),
      ("js", "document.activeElement === Module.canvas", True)]),
    ("Tab let go", [("key", "keyUp", "Tab", "Tab", 9)], [("key", 9, 0), ("keyhit", 9, 1)]),
    ("Escape", [("key", "rawKeyDown", "Escape", "Escape", 27)],
     [("key", 27, 1), ("js", "zqSeen.prevented['keydown:Escape']", True)]),
    ("Space and the arrows stay with the game",
     [("key", "keyDown", " ", "Space", 32, " "),
      ("key", "rawKeyDown", "ArrowDown", "ArrowDown", 40)],
     [("key", 32, 1), ("key", 40, 1), ("js", "zqSeen.prevented['keydown: ']", True),
      ("js", "zqSeen.prevented['keydown:ArrowDown']", True), ("js", "window.scrollY", 0)]),
    ("a letter types its character once",
     [("key", "keyDown", "q", "KeyQ", 81, "q"), ("key", "keyUp", "q", "KeyQ", 81)],
     [("keyhit", 81, 1), ("key", 81, 0), ("chars", "\t\x1b q")]),
    ("a held key's repeats are no new presses",
     [("key", "keyDown", "x", "KeyX", 88, "x"), ("key", "keyDown", "x", "KeyX", 88, "x", 0, True),
      ("key", "keyDown", "x", "KeyX", 88, "x", 0, True)],
     [("key", 88, 1), ("keyhit", 88, 1), ("chars", "xxx")]),
    ("the right shift apart from the left",
     [("key", "rawKeyDown", "Shift", "ShiftRight", 16, None, 8)],
     [("key", 161, 1), ("key", 160, 0)]),
    ("the numeric pad's 7 without Num Lock",
     [("key", "rawKeyDown", "Home", "Numpad7", 36)], [("key", 103, 1), ("key", 36, 0)]),
    ("punctuation by what it types",
     [("key", "keyDown", "-", "Minus", 189, "-"), ("key", "keyDown", "'", "Quote", 222, "'")],
     [("key", 189, 1), ("key", 192, 1), ("chars", "-'")]),
    ("F12 and an unknown key are left to the browser",
     [("key", "rawKeyDown", "F12", "F12", 123), ("key", "rawKeyDown", "F13", "F13", 124)],
     [("key", 123, 1), ("js", "zqSeen.prevented['keydown:F12']", False),
      ("js", "zqSeen.prevented['keydown:F13']", False)]),
    ("Ctrl shortcuts are left to the browser, and type nothing",
     [("key", "rawKeyDown", "Control", "ControlLeft", 17, None, 2),
      ("key", "keyDown", "a", "KeyA", 65, None, 2)],
     [("key", 162, 1), ("key", 65, 1), ("js", "zqSeen.prevented['keydown:a']", False),
      ("chars", "")]),
    ("focus elsewhere on the page lets everything go",
     [("down", 0.5, 0.5, "left"), ("js", "document.getElementById('elsewhere').focus()")],
     [("key", 65, 0), ("key", 162, 0), ("key", 32, 0), ("mouse", LEFT, 0)]),
    ("keys typed elsewhere are not the game's",
     [("key", "keyDown", "b", "KeyB", 66, "b")], [("key", 66, 0), ("chars", "")]),
    ("a click brings the keys back",
     [("up", 0.5, 0.5, "left"), ("down", 0.5, 0.5, "left"), ("up", 0.5, 0.5, "left"),
      ("key", "keyDown", "c", "KeyC", 67, "c")],
     [("js", "document.activeElement === Module.canvas", True), ("key", 67, 1)]),
    ("the window losing focus lets everything go",
     [("down", 0.5, 0.5, "right"), ("js", "window.dispatchEvent(new Event('blur'))")],
     [("key", 67, 0), ("mouse", RIGHT, 0)]),
    ("the page hidden lets everything go",
     [("up", 0.5, 0.5, "right"), ("key", "rawKeyDown", "ArrowUp", "ArrowUp", 38),
      ("js", "Object.defineProperty(document, 'visibilityState', {value: 'hidden',"
             " configurable: true}); document.dispatchEvent(new Event('visibilitychange'));"
             " delete document.visibilityState")],
     [("key", 38, 0)]),
    ("events the game leaves unread past the queue's bound let everything go, the later"
     " ones kept", [("js", "for (var i = 0; i < 2500; i++) {"
                           " [['keydown', 81], ['keyup', 81]].forEach(function (k) {"
                           " Module.canvas.dispatchEvent(new KeyboardEvent(k[0], {keyCode: k[1],"
                           " code: 'KeyQ', key: 'q', bubbles: true})); }); }"
                           " Module.canvas.dispatchEvent(new KeyboardEvent('keydown',"
                           " {keyCode: 69, code: 'KeyE', key: 'e', bubbles: true}));")],
     [("key", 69, 1), ("key", 81, 0),
      ("js", "Module._probe_query(%d, 81) < 2500" % KEY_HIT, True)]),
]


def pointer_lock_cases(page):
    """Asks for the pointer lock with a click. Refused (the browser throws), the click is
    a click and the plain pointer works. Granted, the mouse's movement moves the pointer;
    lost (as Escape ends it), the plain pointer works and the next click asks again."""
    step(page, ("up", 0.5, 0.5, "right"))
    page.set(LOCK_WANTED, 1)
    run_cases(page, [
        ("a refused lock leaves the click and the plain pointer",
         [("js", "Module.canvas.requestPointerLock = function () {"
                 " throw new DOMException('refused', 'NotSupportedError'); }"),
          ("down", 0.2, 0.3, "left")],
         at(0.2, 0.3) + [("mouse", LEFT, 1), ("js", "document.pointerLockElement", None)]),
        ("the plain pointer follows the mouse",
         [("up", 0.2, 0.3, "left"), ("move", 0.3, 0.6)], at(0.3, 0.6)),
    ])
    check(page.query(LOCKED) == 0, "PointerLocked() reads false when refused")
    page.js("delete Module.canvas.requestPointerLock; zqSeen.lock = []")
    step(page, ("down", 0.5, 0.5, "left"))
    step(page, ("up", 0.5, 0.5, "left"))
    outcome = wait_for("the pointer lock granted or refused",
                       lambda: page.js("return zqSeen.lock.length ? zqSeen.lock[0] : null"))
    print("pointer lock in headless Chromium: %s" % outcome, flush=True)
    if outcome != "locked":
        check(outcome == "refused", "the lock was refused, not lost: %s" % outcome)
        page.set(LOCK_WANTED, 0)
        return
    scale = WIDTH / page.rect()[2]
    move = ("js", "Module.canvas.dispatchEvent(new MouseEvent('mousemove',"
            " {bubbles: true, movementX: 100, movementY: -50}))")
    relock = ("js", "zqSeen.lock = []")
    run_cases(page, [
        ("held, the lock says so", [], [("query", LOCKED, 0, 1)]),
        ("the pointer moves by the mouse's movement", [("set", PLACE, 640 * 10000 + 480), move],
         [("x", 640 + 100 * scale), ("y", 480 - 50 * scale)]),
        ("a movement past the edge keeps the pointer on the screen",
         [move, move, move, move, move, move, move, move, move, move], [("y", 0)]),
        ("lost, the plain pointer works and the game is told once",
         [("js", "document.exitPointerLock()"), relock, ("move", 0.3, 0.6)],
         at(0.3, 0.6) + [("query", LOCKED, 0, 0),
                         ("js", "[Module._probe_query(%d, 0), Module._probe_query(%d, 0)]"
                          % (LOCK_LOST, LOCK_LOST), [1, 0])]),
        ("the next click asks again", [("down", 0.5, 0.5, "left"), ("up", 0.5, 0.5, "left")],
         [("query", LOCKED, 0, 1)]),
        ("the lock let go when no longer wanted, which is no loss", [("set", LOCK_WANTED, 0)],
         [("query", LOCKED, 0, 0), ("query", LOCK_LOST, 0, 0)]),
    ])


FAKE_PADS = """
window.zqPads = [];
navigator.getGamepads = function () { return window.zqPads; };
window.zqPad = function (pressed, mapping) {
  var buttons = [];
  for (var i = 0; i < 17; i++) {
    var on = pressed.indexOf(i) >= 0;
    buttons.push({pressed: on, value: on ? 1 : 0});
  }
  return {id: 'Fake Pad (STANDARD GAMEPAD Vendor: 1234 Product: 5678)', connected: true,
          mapping: mapping, axes: [0.5, -1, 0.25, 0, 2, NaN], buttons: buttons};
};
"""


def gamepad_cases(page):
    """No pad: the count is 0 and the panel's note says why; a faked pad is read as the
    browser shows it, on its port, and the count follows it."""
    check(page.query(JOY_COUNT) == 0, "no gamepad: JoyCount() is 0")
    note = page.js("return UTF8ToString(Module._probe_text(1, 0))")
    check(note == NO_PAD_NOTE, "the note without a pad: %r" % note)
    page.js(FAKE_PADS)
    page.js("zqPads = [null, zqPad([0, 12, 15], 'standard')]")
    wait_for("the pad shown on port 2", lambda: page.query(JOY_COUNT) == 2)
    axis = lambda port, a: page.js("return Module._probe_axis(%d, %d)" % (port, a))  # noqa: E731
    name = page.js("return UTF8ToString(Module._probe_text(0, 1))")
    check(name == "Fake Pad", "the pad's name from its id: %r" % name)
    check(page.js("return UTF8ToString(Module._probe_text(1, 0))") == "",
          "no note once a pad is seen")
    check(page.query(JOY_MASK, 1) == (1 << 17) - 1 and page.query(JOY_MASK, 0) == 0,
          "button masks: 17 buttons on port 1, none on the empty port 0")
    check(page.query(JOY_DOWN, 100) == 1 and page.query(JOY_DOWN, 101) == 0,
          "buttons held and not held")
    check([axis(1, a) for a in range(6)] == [0.5, -1, 0.25, 0, 1, 0],
          "axes (out of range kept in -1..1, NaN as rest): %s" % [axis(1, a) for a in range(6)])
    check(axis(1, 6) == 0.125 and axis(0, 6) == -1, "the d-pad up and right is the hat's "
          "up-right; the empty port's hat is centred: %s %s" % (axis(1, 6), axis(0, 6)))
    page.js("zqPads = [zqPad([13, 14], 'standard')]")
    wait_for("the pad moved to port 1", lambda: page.query(JOY_COUNT) == 1)
    check(axis(0, 6) == 0.625, "down and left is the hat's down-left: %s" % axis(0, 6))
    page.js("zqPads = [zqPad([12], '')]")
    wait_for("a pad of its own layout", lambda: axis(0, 6) == -1)
    check(page.query(JOY_DOWN, 12) == 1, "its buttons are read as they are")
    page.js("zqPads = []")
    wait_for("the pad gone", lambda: page.query(JOY_COUNT) == 0)
    check(page.js("return UTF8ToString(Module._probe_text(1, 0))") == NO_PAD_NOTE,
          "the note is back once the pad is gone")


# Touches at a phone's size.
PHONE_CASES = [
    ("a tap in the menus presses left where the finger is",
     [("js", "zqSeen.mouse = 0"), ("touch", "touchStart", [(0.5, 0.25)])],
     at(0.5, 0.25) + [("mouse", LEFT, 1), ("mouse", RIGHT, 0),
                      ("js", "zqSeen.prevented.touchstart", True)]),
    ("the tap let go", [("touch", "touchEnd", [])],
     [("mouse", LEFT, 0), ("js", "zqSeen.mouse", 0)]),
    ("in a game the first finger holds right and leaves the pointer where it was",
     [("set", TOUCH_RELATIVE, 1), ("set", PLACE, 640 * 10000 + 480),
      ("touch", "touchStart", [(0.3, 0.6)])],
     at(0.5, 0.5) + [("mouse", RIGHT, 1), ("mouse", LEFT, 0)]),
    ("the finger's movement moves the pointer by as much",
     [("touch", "touchMove", [(0.4, 0.55)])], at(0.6, 0.45)),
    ("a second finger holds left too", [("touch", "touchStart", [(0.4, 0.55), (0.8, 0.8)])],
     at(0.6, 0.45) + [("mouse", LEFT, 1), ("mouse", RIGHT, 1)]),
    ("lifting the second finger lets left go", [("touch", "touchEnd", [(0.8, 0.8, 1)])],
     [("mouse", LEFT, 0), ("mouse", RIGHT, 1)]),
    ("a drag past the edge keeps the pointer on the screen, the page unscrolled",
     [("touch", "touchMove", [(0.4, 0.0)]), ("touch", "touchMove", [(1.05, -0.05)])],
     [("x", WIDTH - 1), ("y", 0), ("js", "window.scrollY", 0)]),
    ("lifting the fingers lets go", [("touch", "touchEnd", [])],
     [("mouse", LEFT, 0), ("mouse", RIGHT, 0), ("js", "zqSeen.mouse", 0)]),
    ("the name's field takes the keys", [("set", TOUCH_RELATIVE, 0), ("set", TEXT_WANTED, 1)],
     [("js", FIELD, "Text for the game")]),
    ("a tap on it opens the keyboard, not a click",
     [("touch", "touchStart", [(0.5, 0.5)]), ("touch", "touchEnd", [])],
     [("mouse", LEFT, 0), ("js", FIELD, "Text for the game")]),
]


def phone_text_cases(page):
    """The hidden field: inserted text, a real keyboard's keys, a phone's deletion."""
    page.query(FLUSH)
    page.cdp("Input.insertText", {"text": "Zé"})
    run_cases(page, [
        ("text a phone's keyboard inserts is typed", [], [("chars", "Zé")]),
        ("a real keyboard's letter is typed once",
         [("key", "keyDown", "a", "KeyA", 65, "a"), ("key", "keyUp", "a", "KeyA", 65)],
         [("chars", "a"), ("keyhit", 65, 1)]),
        ("a real keyboard's Backspace", [("key", "rawKeyDown", "Backspace", "Backspace", 8),
                                         ("key", "keyUp", "Backspace", "Backspace", 8)],
         [("keyhit", 8, 1), ("chars", "\b")]),
        ("a phone's Backspace (the field's text shortened)",
         [("js", "var f = document.activeElement; f.value = '';"
                 " f.dispatchEvent(new InputEvent('input',"
                 " {inputType: 'deleteContentBackward'}))")],
         [("keyhit", 8, 1), ("chars", "\b")]),
        ("Return", [("key", "keyDown", "Enter", "Enter", 13, "\r"),
                    ("key", "keyUp", "Enter", "Enter", 13)],
         [("keyhit", 13, 1), ("chars", "\r")]),
        ("the field hidden, the canvas has the keys again", [("set", TEXT_WANTED, 0)],
         [("js", "document.activeElement === Module.canvas", True)]),
    ])


def start(driver, url):
    driver.get(url)
    lines = wait_for("the probe starting", lambda: driver.execute_script(
        "return window.zqLines && window.zqLines.indexOf('done') >= 0 ? window.zqLines : null"))
    check(lines and "graphics=1 input=1" in lines, "the probe opened its screen and input: %s"
          % lines)


def main():
    server, base = serve_folder(sys.argv[1])
    url = base + "/input_probe.html"
    try:
        with chromium_session("zq_input_", ("--enable-unsafe-swiftshader",
                                            "--use-angle=swiftshader",
                                            "--window-size=1280,800")) as driver:
            page = Page(driver)
            start(driver, url)
            left, top, w, h = page.rect()
            canvas = page.js("return [Module.canvas.width, Module.canvas.height]")
            print("desktop: canvas shown at %.0f x %.0f page pixels, %d x %d drawing pixels,"
                  " game %d x %d" % (w, h, canvas[0], canvas[1], WIDTH, HEIGHT), flush=True)
            run_cases(page, DESKTOP_CASES)
            pointer_lock_cases(page)
            gamepad_cases(page)

            page.cdp("Emulation.setDeviceMetricsOverride",
                     {"width": 390, "height": 844, "deviceScaleFactor": 3, "mobile": True})
            page.cdp("Emulation.setTouchEmulationEnabled", {"enabled": True, "maxTouchPoints": 5})
            start(driver, url)
            left, top, w, h = page.rect()
            print("phone: canvas shown at %.0f x %.0f page pixels" % (w, h), flush=True)
            run_cases(page, PHONE_CASES)
            phone_text_cases(page)
    finally:
        server.shutdown()
    return 1 if failures else 0


if __name__ == "__main__":
    run_script(main)
