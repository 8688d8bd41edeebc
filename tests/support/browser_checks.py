"""The checks every headless-Chromium test script makes: failed checks
recorded and printed as they happen, and bounded waits for the page."""

import contextlib
import functools
import http.server
import os
import shutil
import sys
import tempfile
import threading
import time

WAIT_SECONDS = 20
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"

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


def missing_browser():
    """Returns what of the browser is missing ("" when all is here)."""
    for path in (CHROMIUM, CHROMEDRIVER):
        if not os.access(path, os.X_OK):
            return path
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "python3-selenium"
    return ""


def run_script(main):
    """Runs a test script's main and exits with its status; 77 (skipped) when the browser is
    missing, but 1 under CI, where it must be there."""
    missing = missing_browser()
    if missing:
        print(missing + " is missing (scripts/setup.sh installs it)")
        sys.exit(1 if os.environ.get("CI") == "true" else 77)
    sys.exit(main())


def chromium(profile, extra_args=()):
    """Starts headless Chromium with the profile folder given, the console kept for
    get_log("browser"); returns its driver."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu",
                "--user-data-dir=" + profile) + tuple(extra_args):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.set_script_timeout(WAIT_SECONDS)
    return driver


@contextlib.contextmanager
def chromium_session(prefix, extra_args=()):
    """Starts headless Chromium (see chromium) with a new profile folder named from prefix;
    yields its driver, then quits it and removes the profile."""
    profile = tempfile.mkdtemp(prefix=prefix)
    driver = None
    try:
        driver = chromium(profile, extra_args)
        yield driver
    finally:
        if driver:
            driver.quit()
        shutil.rmtree(profile, ignore_errors=True)


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    """Serves a folder's files (WebAssembly with its type) without a log line per request."""

    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                          **{".wasm": "application/wasm"})

    def log_message(self, *args):
        pass


def serve_folder(folder):
    """Serves folder on a free loopback port in the background; returns (server, its address)."""
    server = http.server.ThreadingHTTPServer(
        ("127.0.0.1", 0), functools.partial(QuietHandler, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, "http://127.0.0.1:%d" % server.server_address[1]
