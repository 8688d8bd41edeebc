#!/usr/bin/python3
"""Drives the game page (/play) of a real board in headless Chromium.

Starts the built board server (its web folder with the WebAssembly bundle) on a
free loopback port and, in one browser profile, plays as a player does: opens
/play and waits for the title screen (the log's "Finished Loading" on the
console, no error there, nothing fetched from another origin, the canvas
fitting the window); chooses Hard and starts with the mouse, steers and fires
for some seconds, pauses with Escape, quits, types a name, answers "Send my
runs to this board" and finds the run verified on the board, and its replay
passed by the native checker; opens the page again (the bundle from the
browser's cache, the score file from its storage); plays with touches at a
phone's size; and plays with every storage write failing (the player is told,
the run stays in the game). Prints the start times, bytes fetched, frame gaps
and input delays, one line per failed check, and exits 1 when any failed; 77
when the browser is missing and CI is not set.

Usage: play_page.py BOARD_PROGRAM REPLAY_CHECKER
"""

import contextlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from browser_checks import (CanvasInput, check, chromium_session, failures,  # noqa: E402
                            run_script, store_reader, wait_for)

# Loading to the title takes the minimum loading time (2.5 s) and the engine test.
LOAD_SECONDS = 60
# The game's logical screen, and the title's Hard choice and start button on it.
WIDTH, HEIGHT = 1280, 960
HARD = (382 / WIDTH, 800 / HEIGHT)
START = (432 / WIDTH, 560 / HEIGHT)
# Keys as the DevTools protocol sends them: (key, code, Windows key code).
ESCAPE = ("Escape", "Escape", 27)
DOWN = ("ArrowDown", "ArrowDown", 40)
SPACE = (" ", "Space", 32)
BACKSPACE = ("Backspace", "Backspace", 8)
RETURN = ("Enter", "Enter", 13)
NAME = "Tess"

# The bytes the page's resources came over the network with, and the origins they came from.
RESOURCES = """
return performance.getEntriesByType('resource').concat(performance.getEntriesByType('navigation'))
    .map(function (e) { return {name: e.name, bytes: e.transferSize}; });
"""


# Makes every IndexedDB write of the page fail as a full disk does.
FAILING_STORE = """
IDBObjectStore.prototype.put = function () {
  throw new DOMException('the test fills the disk', 'QuotaExceededError');
};
"""


# Reads the stored replays as {key: base64 of the bytes}.
READ_REPLAYS = store_reader("""function (key, bytes) {
  if (!key.endsWith('.zqr')) return undefined;
  var text = '';
  for (var i = 0; i < bytes.length; i++) text += String.fromCharCode(bytes[i]);
  return btoa(text);
}""")


def checked_natively(driver, checker):
    """Runs the native replay checker on every replay the browser stored; returns its lines."""
    import base64
    folder = tempfile.mkdtemp(prefix="zq_play_replays_")
    try:
        replays = driver.execute_async_script(READ_REPLAYS)
        if "error" in replays:
            return ["the store could not be read: %s" % replays["error"]]
        paths = []
        for i, (key, data) in enumerate(sorted(replays.items())):
            paths.append(os.path.join(folder, "%d.zqr" % i))
            with open(paths[-1], "wb") as f:
                f.write(base64.b64decode(data))
        if not paths:
            return []
        out = subprocess.run([checker] + paths, capture_output=True, text=True, timeout=120)
        return out.stdout.splitlines()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def verified_run(base, name):
    """Returns the player's runs on the board when one is verified, else None."""
    import json
    import urllib.request
    try:
        with urllib.request.urlopen(base + "/api/v1/players/" + name, timeout=5) as reply:
            body = json.loads(reply.read().decode("utf-8"))
    except OSError:
        return None
    runs = body.get("runs", [])
    return runs if any(r.get("state", "verified") == "verified" for r in runs) else None


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


@contextlib.contextmanager
def board_and_browser(program, extra_args=()):
    """Starts the board and headless Chromium with a profile of its own; yields (driver, the
    board's address) and stops both, leaving nothing behind."""
    data = tempfile.mkdtemp(prefix="zq_play_board_")
    server, base = start_board(program, data)
    try:
        with chromium_session("zq_play_", ("--window-size=1280,900",
                                           "--autoplay-policy=user-gesture-required")
                              + tuple(extra_args)) as driver:
            yield driver, base
    finally:
        server.terminate()
        server.wait(timeout=30)
        shutil.rmtree(data, ignore_errors=True)


def open_game(driver, url, label, expect_status=False):
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
    if not expect_status:
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


def until(probe, seconds):
    """Polls probe() until it is true (bounded), recording nothing; returns its last value."""
    deadline = time.monotonic() + seconds
    value = probe()
    while not value and time.monotonic() < deadline:
        time.sleep(0.05)
        value = probe()
    return value


def place(driver):
    """Returns where the player is: 'menus', 'game', 'paused' or 'name'."""
    return driver.execute_script(
        "return window.ZarquillPlay ? window.ZarquillPlay.place() : 'none'")


def tap(send, key, hold=0.12):
    """Presses a key for a few frames and lets it go."""
    text = key[0] if len(key[0]) == 1 else None
    send.key("keyDown" if text else "rawKeyDown", key[0], key[1], key[2], text=text)
    time.sleep(hold)
    send.key("keyUp", key[0], key[1], key[2])
    time.sleep(0.1)


def click(send, spot, touch=False):
    """Clicks (or taps) at a spot for a few frames."""
    if touch:
        send.touch("touchStart", [spot])
        time.sleep(0.15)
        send.touch("touchEnd", [])
    else:
        send.mouse("mouseMoved", *spot)
        send.mouse("mousePressed", *spot, button="left", buttons=1)
        time.sleep(0.15)
        send.mouse("mouseReleased", *spot, button="left")
    time.sleep(0.1)


def start_hard(driver, send, touch=False):
    """Chooses Hard and starts a game from the title; true once the game runs."""
    for _ in range(10):
        click(send, HARD, touch)
        click(send, START, touch)
        if until(lambda: place(driver) == "game", 3):
            return True
    return check(False, "the game started from the title (%s)" % ("touch" if touch else "mouse"))


def percentile(values, p):
    """Returns the p-th percentile of values (nearest rank), or -1 for none."""
    if not values:
        return -1
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * p / 100))]


def play_with_mouse(driver, send, seconds):
    """Steers for a while at 60 events a second, firing with the right button part of it;
    returns (frame gaps, input delays) measured meanwhile."""
    driver.execute_script("ZarquillPlay.takeFrameGaps(); ZarquillPlay.takeInputDelays();")
    end = time.monotonic() + seconds
    k = 0
    while time.monotonic() < end and place(driver) == "game":
        fx = 0.2 + 0.15 * ((k // 30) % 3)
        fy = 0.2 + 0.6 * ((k % 60) / 60)
        firing = (k // 90) % 2 == 1
        send.mouse("mouseMoved", fx, fy, buttons=2 if firing else 0)
        if k % 90 == 89:
            send.mouse("mousePressed" if not firing else "mouseReleased", fx, fy, button="right",
                       buttons=2 if not firing else 0)
        k += 1
        time.sleep(1 / 60)
    send.mouse("mouseReleased", 0.3, 0.5, button="right")
    return driver.execute_script(
        "return [ZarquillPlay.takeFrameGaps(), ZarquillPlay.takeInputDelays()];")


def quit_to_name_entry(driver, send):
    """Pauses the game, chooses Quit and waits for name entry; true once there."""
    for _ in range(5):
        if place(driver) == "game":
            tap(send, ESCAPE)
        if place(driver) == "paused":
            tap(send, DOWN)
            time.sleep(0.3)
            tap(send, SPACE)
        if until(lambda: place(driver) == "name", 5):
            return True
    return check(False, "the pause menu's Quit led to name entry (place %s)" % place(driver))


def enter_name(driver, send, name):
    """Clears the name shown, types name and confirms it; true once name entry ended."""
    for _ in range(16):
        tap(send, BACKSPACE, 0.06)
    for c in name:
        tap(send, (c, "Key" + c.upper(), ord(c.upper())), 0.06)
    tap(send, RETURN)
    return wait_for("name entry ending", lambda: place(driver) == "menus" or None, 10)


def main():
    program = sys.argv[1]
    checker = sys.argv[2]
    with board_and_browser(program) as (driver, base):
        first = open_game(driver, base + "/play", "first visit")
        resources = driver.execute_script(RESOURCES)
        first_bytes = sum(r["bytes"] for r in resources)
        check(all(r["name"].startswith(base + "/") for r in resources),
              "everything came from the board: %s" % [r["name"] for r in resources])
        errors = [e["message"] for e in driver.get_log("browser") if e["level"] == "SEVERE"]
        check(not errors, "no error on the console: %s" % errors)
        fits(driver, "desktop")

        # A whole game with the mouse and keys, its run sent to the board once asked; no sound
        # before the first click.
        check(driver.execute_script("return ZarquillPlay.soundOn()") is False,
              "no sound before the player's first gesture")
        send = CanvasInput(driver, "document.getElementById('play-canvas')")
        if start_hard(driver, send):
            check(driver.execute_script("return ZarquillPlay.soundOn()") is True,
                  "sound on after the first click")
            gaps, delays = play_with_mouse(driver, send, 8)
            print("frames on Hard: %d, gap p50 %.1f ms, p95 %.1f ms; input to frame p50 %.1f ms,"
                  " p95 %.1f ms" % (len(gaps), percentile(gaps, 50), percentile(gaps, 95),
                                    percentile(delays, 50), percentile(delays, 95)), flush=True)
            check(len(gaps) > 60 and len(delays) > 10, "frames and inputs were measured: %d, %d"
                  % (len(gaps), len(delays)))
            # The lock the game holds, ended as Escape ends it in a browser, pauses the game.
            locked = driver.execute_script("return document.pointerLockElement !== null")
            print("the pointer lock was %s" % ("granted" if locked else "refused"), flush=True)
            if locked:
                driver.execute_script("document.exitPointerLock()")
                check(until(lambda: place(driver) == "paused", 5),
                      "a lost pointer lock paused the game (%s)" % place(driver))
            if quit_to_name_entry(driver, send) and enter_name(driver, send, NAME):
                check(driver.execute_script("return ZarquillPlay.runs()") == 1,
                      "the run is in the score file")
                asked = wait_for("the question about sending runs", lambda: driver.execute_script(
                    "return document.getElementById('play-ask-sharing').open || null"))
                if asked:
                    driver.execute_script("document.querySelector("
                                          "'#play-ask-sharing button[value=send]').click()")
                    verified = wait_for("the run verified on the board", lambda: verified_run(
                        base, NAME), 90)
                    check(verified, "the board verified the browser's run")
                # The native checker re-simulates the browser's replay to its check values.
                lines = checked_natively(driver, checker)
                check(len(lines) == 1 and " ok=1 " in lines[0],
                      "the native checker passes the browser's replay: %s" % lines)

        later = open_game(driver, base + "/play", "later visit")
        later_bytes = sum(r["bytes"] for r in driver.execute_script(RESOURCES))
        check(driver.execute_script("return ZarquillPlay.runs()") == 1,
              "a later visit finds the score file with its run")

        # A phone: the page fits both ways; a touch session starts and steers a game.
        driver.execute_cdp_cmd("Emulation.setTouchEmulationEnabled",
                               {"enabled": True, "maxTouchPoints": 5})
        for label, width, height in (("phone landscape", 844, 390), ("phone portrait", 390, 844)):
            driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": width, "height": height, "deviceScaleFactor": 3, "mobile": True})
            fits(driver, label)
        open_game(driver, base + "/play", "phone")
        fits(driver, "phone after loading")
        if start_hard(driver, send, touch=True):
            send.touch("touchStart", [(0.3, 0.5)])
            for k in range(60):
                send.touch("touchMove", [(0.3 + 0.004 * k, 0.5 - 0.003 * k)])
                time.sleep(1 / 60)
            send.touch("touchEnd", [])
            check(place(driver) == "game", "a touch game goes on: %s" % place(driver))
        driver.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": False})
        driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

        # Storage that fails as a full disk does: the player is told, the run stays in the game.
        driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": FAILING_STORE})
        driver.execute_script("indexedDB.deleteDatabase('zarquill-files')")
        open_game(driver, base + "/play", "failing storage", expect_status=True)
        if start_hard(driver, send) and quit_to_name_entry(driver, send) and enter_name(
                driver, send, "Ida"):
            check(driver.execute_script("return ZarquillPlay.runs()") == 1,
                  "the run is kept in the game while storage fails")
            # The page looks at the storage once a second.
            status = until(lambda: "cannot be kept" in driver.execute_script(
                "return document.getElementById('play-status').textContent"), 3)
            check(status, "the failing storage is shown")
        print("first visit: title after %.1f s, %d bytes fetched; later visit: title after %.1f s,"
              " %d bytes fetched" % (first, first_bytes, later, later_bytes), flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    run_script(main)
