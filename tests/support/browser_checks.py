"""The checks every headless-Chromium test script makes: failed checks
recorded and printed as they happen, and bounded waits for the page."""

import time

WAIT_SECONDS = 20

# Every check that failed, in order.
failures = []


def check(ok, what):
    """Records a failed check."""
    if not ok:
        failures.append(what)
        print("FAIL: " + what, flush=True)
    return ok


def wait_for(what, probe, seconds=WAIT_SECONDS):
    """Polls probe() until it returns a true value (bounded); returns its last value."""
    deadline = time.monotonic() + seconds
    value = probe()
    while not value and time.monotonic() < deadline:
        time.sleep(0.05)
        value = probe()
    check(value, "timed out waiting for " + what)
    return value


class CanvasInput:
    """Real input events for a page's canvas, sent through the DevTools protocol at
    fractions of the canvas as the page shows it."""

    def __init__(self, driver, canvas="Module.canvas"):
        self.driver = driver
        self.canvas = canvas

    def rect(self):
        return self.driver.execute_script(
            "var r = %s.getBoundingClientRect(); return [r.left, r.top, r.width, r.height];"
            % self.canvas)

    def spot(self, fx, fy):
        """Returns the page point at fractions of the canvas as shown."""
        left, top, w, h = self.rect()
        return left + fx * w, top + fy * h

    def cdp(self, command, params):
        self.driver.execute_cdp_cmd(command, params)

    def mouse(self, kind, fx, fy, button="none", buttons=0):
        x, y = self.spot(fx, fy)
        self.cdp("Input.dispatchMouseEvent",
                 {"type": kind, "x": x, "y": y, "button": button, "buttons": buttons,
                  "clickCount": 0 if kind == "mouseMoved" else 1})

    def key(self, kind, key, code, vk, text=None, modifiers=0, repeat=False):
        params = {"type": kind, "key": key, "code": code, "windowsVirtualKeyCode": vk,
                  "modifiers": modifiers, "autoRepeat": repeat}
        if text is not None:
            params["text"] = text
        self.cdp("Input.dispatchKeyEvent", params)

    def touch(self, kind, points):
        """Fingers are numbered by their place in the list unless given (fx, fy, id); a
        touchEnd lifts the fingers it names, or all of them when it names none."""
        touched = []
        for i, point in enumerate(points):
            x, y = self.spot(point[0], point[1])
            touched.append({"x": x, "y": y, "id": point[2] if len(point) > 2 else i})
        self.cdp("Input.dispatchTouchEvent", {"type": kind, "touchPoints": touched})


def store_reader(entry):
    """Returns a script for execute_async_script that reads the game's IndexedDB store as
    {key: entry(key, bytes)} (a fresh connection of the page's); entry is a JavaScript function
    expression whose undefined answers are left out."""
    return """
var done = arguments[arguments.length - 1];
var entry = %s;
var req = indexedDB.open('zarquill-files', 1);
req.onupgradeneeded = function () { req.result.createObjectStore('files'); };
req.onerror = function () { done({error: String(req.error)}); };
req.onsuccess = function () {
  var db = req.result, out = {};
  var cur = db.transaction('files', 'readonly').objectStore('files').openCursor();
  cur.onsuccess = function () {
    var c = cur.result;
    if (!c) { db.close(); done(out); return; }
    var value = entry(String(c.key), c.value);
    if (value !== undefined) out[c.key] = value;
    c.continue();
  };
};
""" % entry
