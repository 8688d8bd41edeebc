#!/usr/bin/python3
"""Drives the game page (/play) of a real board in headless Chromium.

Starts the built board server (its web folder with the WebAssembly bundle) on a
free loopback port and, in one browser profile: opens /play at a desktop's size
and waits for the game to load to its title screen (the log's "Finished
Loading" on the console, the program running, the canvas at the game's size,
no error on the console, nothing fetched from another origin); opens it again
(a later visit: the bundle comes from the browser's cache); and opens it at a
phone's size in portrait and landscape (the canvas fits without scrolling).
Prints the start times and the bytes each visit fetched, one line per failed
check, and exits 1 when any failed; 77 when the browser is missing and CI is
not set.

Usage: play_page.py BOARD_PROGRAM
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from browser_checks import check, failures, wait_for  # noqa: E402

# Loading to the title takes the minimum loading time (2.5 s) and the engine test.
LOAD_SECONDS = 60

# The bytes the page's resources came over the network with, and the origins they came from.
RESOURCES = """
return performance.getEntriesByType('resource').concat(performance.getEntriesByType('navigation'))
    .map(function (e) { return {name: e.name, bytes: e.transferSize}; });
"""


def start_board(program, data):
    """Starts the board on a free port; returns (process, base address)."""
    log = open(os.path.join(data, "server.log"), "w+")
    server = subprocess.Popen([program, "--listen", "127.0.0.1:0", "--data", data],
                              stdout=subprocess.DEVNULL, stderr=log)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        log.seek(0)
        found = re.search(r"listening on (127\.0\.0\.1:\d+)", log.read())
        if found:
            return server, "http://" + found.group(1)
        if server.poll() is not None:
            break
        time.sleep(0.05)
    log.seek(0)
    raise RuntimeError("the board did not start: " + log.read())


def open_game(driver, url, label):
    """Opens the page and waits for the title screen; returns the seconds it took."""
    driver.get_log("browser")
    started = time.monotonic()
    driver.get(url)
    loaded = wait_for(label + ": the game loading to its title", lambda: any(
        "Finished Loading" in e["message"] for e in driver.get_log("browser")) or None,
        LOAD_SECONDS)
    seconds = time.monotonic() - started
    state = driver.execute_script(
        "return window.ZarquillPlay ? window.ZarquillPlay.state() : 'none'")
    check(state == "running", "%s: the game runs (state %s)" % (label, state))
    status = driver.execute_script("return document.getElementById('play-status').textContent")
    check(loaded is None or not status, "%s: no message over the game: %r" % (label, status))
    return seconds


def fits(driver, label):
    """Checks that the canvas keeps the game's shape and fits the window without scrolling."""
    time.sleep(0.2)  # the page fits the canvas on the resize
    box = driver.execute_script(
        "var c = document.getElementById('play-canvas'), r = c.getBoundingClientRect();"
        "return {w: c.width, h: c.height, cw: r.width, ch: r.height,"
        " vw: innerWidth, vh: innerHeight,"
        " sw: document.documentElement.scrollWidth, sh: document.documentElement.scrollHeight};")
    # The picture has the pixels the page shows (never more than the game's 1280x960).
    check(0 < box["w"] <= 1280 and abs(box["w"] * 3 - box["h"] * 4) <= 4,
          "%s: the picture keeps the game's shape: %s" % (label, box))
    check(box["cw"] > 0 and abs(box["cw"] * 3 - box["ch"] * 4) <= 4,
          "%s: the canvas keeps its shape: %s" % (label, box))
    check(box["cw"] <= box["vw"] and box["ch"] <= box["vh"] and box["sw"] <= box["vw"]
          and box["sh"] <= box["vh"], "%s: nothing scrolls: %s" % (label, box))


def main():
    program = sys.argv[1]
    if not os.path.exists(CHROMIUM) or not os.path.exists(CHROMEDRIVER):
        if os.environ.get("CI"):
            print("FAIL: Chromium or its driver is missing under CI")
            return 1
        print("Chromium is missing: skipped")
        return 77
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    data = tempfile.mkdtemp(prefix="zq_play_board_")
    profile = tempfile.mkdtemp(prefix="zq_play_")
    server, base = start_board(program, data)
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + profile,
                "--window-size=1280,900", "--autoplay-policy=user-gesture-required"):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    try:
        first = open_game(driver, base + "/play", "first visit")
        resources = driver.execute_script(RESOURCES)
        first_bytes = sum(r["bytes"] for r in resources)
        check(all(r["name"].startswith(base + "/") for r in resources),
              "everything came from the board: %s" % [r["name"] for r in resources])
        errors = [e["message"] for e in driver.get_log("browser") if e["level"] == "SEVERE"]
        check(not errors, "no error on the console: %s" % errors)
        fits(driver, "desktop")

        later = open_game(driver, base + "/play", "later visit")
        later_bytes = sum(r["bytes"] for r in driver.execute_script(RESOURCES))

        for label, width, height in (("phone portrait", 390, 844), ("phone landscape", 844, 390)):
            driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": width, "height": height, "deviceScaleFactor": 3, "mobile": True})
            fits(driver, label)
        driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
        print("first visit: title after %.1f s, %d bytes fetched; later visit: title after %.1f s,"
              " %d bytes fetched" % (first, first_bytes, later, later_bytes), flush=True)
    finally:
        driver.quit()
        server.terminate()
        server.wait(timeout=30)
        shutil.rmtree(profile, ignore_errors=True)
        shutil.rmtree(data, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
