#!/usr/bin/python3
"""Drives the board's web page in headless Chromium for web_test.cpp.

The C++ test seeds a real server and writes a plan (JSON: the page's address,
the rows each board must show, a name made of markup, a replay to download,
a player with their runs, runs to watch, where screenshots go). This script
loads the page, checks it against the plan, plays runs back in the viewer
when the server has one, and saves screenshots at a desktop's and a phone's
width. It prints one line per failed check and exits 1 when any failed.

Usage: web_page.py PLAN.json
"""

import base64
import json
import os
import re
import shutil
import sys
import tempfile
import time
import urllib.parse

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from browser_checks import WAIT_SECONDS, check, failures, wait_for  # noqa: E402
# The longest a watched run may take to play to its end at 16x.
PLAY_SECONDS = 180
# Share of a playing viewer's canvas that must not be black.
MIN_LIT_SHARE = 0.01
VERIFIED_SENTENCE = "the server re-played this run and got the same score"
TITLES = {"easy": "Easy", "medium": "Medium", "hard": "Hard"}

# Whether the server under test has the viewer (set from the plan).
viewer_served = False


def start_browser(user_data, downloads):
    """Starts headless Chromium through chromedriver with a fresh profile."""
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                "--enable-unsafe-swiftshader", "--use-angle=swiftshader",
                "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync",
                "--user-data-dir=" + user_data, "--window-size=1280,900"]:
        options.add_argument(arg)
    options.add_experimental_option("prefs", {
        "download.default_directory": downloads,
        "download.prompt_for_download": False,
    })
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": downloads})
    return driver


def rows_of(driver, table):
    """Returns the shown rows of a table as lists of cell texts, once loaded."""
    def probe():
        status = driver.find_element(By.CSS_SELECTOR, f"#{table}-view .status").text
        if status.startswith("Loading"):
            return None
        return [[td.get_attribute("textContent") for td in tr.find_elements(By.TAG_NAME, "td")]
                for tr in driver.find_elements(By.CSS_SELECTOR, f"#{table} tbody tr")] or status
    value = wait_for(table + " rows", probe)
    return value if isinstance(value, list) else []


def check_board(driver, board, expected):
    """Checks the tab, title and rows the page shows for a board."""
    wait_for("the " + board + " tab", lambda: driver.find_element(
        By.ID, "tab-" + board).get_attribute("aria-selected") == "true")
    for other in TITLES:
        if other != board:
            check(driver.find_element(By.ID, "tab-" + other).get_attribute("aria-selected")
                  == "false", f"tab {other} selected on the {board} board")
    check(driver.find_element(By.ID, "board-title").text == TITLES[board],
          board + " board's title")
    rows = rows_of(driver, "board")
    want = [[str(e["rank"]), e["name"], f"{e['score']:,}"] for e in expected]
    check([r[:3] for r in rows] == want,
          f"{board} board shows {[r[:3] for r in rows]}, expected {want}")
    for row, e in zip(rows, expected):
        check(row[3] == e["date"][:10] + " " + e["date"][11:16],
              f"{board} date '{row[3]}' for {e['date']}")
        check(re.fullmatch(r"\d+:\d\d", row[4]) is not None, f"{board} length '{row[4]}'")
        want_cell = "Watch Download" if viewer_served else "Download"
        check(row[5] == want_cell, f"{board} replay cell '{row[5]}', expected '{want_cell}'")


def check_no_sideways_scroll(driver, what):
    """Checks that the page fits the window's width."""
    width = driver.execute_script(
        "return [document.documentElement.scrollWidth, window.innerWidth]")
    check(width[0] <= width[1], f"{what} is wider than the window: {width[0]} > {width[1]}")


def watch_status(driver):
    """Returns the viewer's status line."""
    return driver.find_element(By.ID, "watch-status").text


def playing_step(driver):
    """Returns the step the viewer shows while it plays (None otherwise)."""
    m = re.fullmatch(r"Step (\d+) of (\d+) · score [\d,]+", watch_status(driver))
    return int(m.group(1)) if m else None


def lit_share(driver, element):
    """Returns the share of an element's screenshot that is not black (decoded by the browser)."""
    return driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        const bytes = Uint8Array.from(atob(arguments[0]), (c) => c.charCodeAt(0));
        createImageBitmap(new Blob([bytes], {type: 'image/png'})).then((image) => {
          const canvas = new OffscreenCanvas(image.width, image.height);
          const g = canvas.getContext('2d');
          g.drawImage(image, 0, 0);
          const px = g.getImageData(0, 0, image.width, image.height).data;
          let lit = 0;
          for (let i = 0; i < px.length; i += 4) lit += (px[i] | px[i + 1] | px[i + 2]) > 16;
          done(lit / (px.length / 4));
        }, () => done(-1));
        """, element.screenshot_as_base64)


def play_afresh(driver, run_id, body, *args):
    """Stops the page's playback, loads the run into its viewer again and returns what body
    (statements with `viewer`, `canvas` and `args` in scope) returns."""
    return driver.execute_async_script("""
        const [runId, args, done] = arguments;
        const viewer = playback.viewer;
        stopPlayback();
        const canvas = document.getElementById('watch-canvas');
        fetch('/api/v1/runs/' + runId + '/replay').then((r) => r.arrayBuffer()).then((b) => {
          viewer.load(new Uint8Array(b));
          done((function (viewer, canvas, args) {""" + body + """})(viewer, canvas, args));
        });""", run_id, list(args))


def save_picture(driver, run_id, picture):
    """Has the viewer play a run to a step afresh and saves what WebGL drew there (RGBA rows
    from the bottom up, the size in FILE.json) for the test to set beside the desktop's."""
    width, height, pixels = play_afresh(driver, run_id, """
        viewer.advance(args[0]);
        const gl = canvas.getContext('webgl');
        const px = new Uint8Array(canvas.width * canvas.height * 4);
        gl.readPixels(0, 0, canvas.width, canvas.height, gl.RGBA, gl.UNSIGNED_BYTE, px);
        let text = '';
        for (let i = 0; i < px.length; i += 0x8000) {
          text += String.fromCharCode.apply(null, px.subarray(i, i + 0x8000));
        }
        return [canvas.width, canvas.height, btoa(text)];""", picture["step"])
    with open(picture["file"], "wb") as f:
        f.write(base64.b64decode(pixels))
    with open(picture["file"] + ".json", "w", encoding="utf-8") as f:
        json.dump({"width": width, "height": height, "step": picture["step"]}, f)


def check_viewer(driver, url, plan, shots):
    """Watches runs: one to its end at 16x with a pause, a damaged one, one of older
    rules and one on a phone."""
    run = plan["run"]
    want_end = f"Finished · score {run['score']:,}"
    driver.get(url + "#hard")
    rows = rows_of(driver, "board")
    names = [r[1] for r in rows]
    if not check(run["name"] in names, f"{run['name']} is not on the Hard board: {names}"):
        return
    driver.find_elements(By.CSS_SELECTOR, "#board tbody tr")[names.index(run["name"])] \
        .find_element(By.CSS_SELECTOR, "a.watch").click()
    wait_for("the watch address", lambda: driver.current_url.endswith(f"#watch/{run['id']}"))
    wait_for("the run to play", lambda: (playing_step(driver) or 0) > 30)
    check(driver.find_element(By.ID, "watch-title").text.startswith(run["name"]),
          "the watched run's title")

    # Pause holds the step still; Resume moves it on. Sound switched on plays along.
    driver.find_element(By.ID, "watch-sound").click()
    pause = driver.find_element(By.ID, "watch-pause")
    pause.click()
    check(pause.text == "Resume", f"the pause button reads '{pause.text}' when paused")
    held = playing_step(driver)
    time.sleep(0.5)
    check(playing_step(driver) == held, f"paused at step {held}, now {watch_status(driver)}")
    pause.click()
    wait_for("the run to go on after Resume", lambda: (playing_step(driver) or 0) > (held or 0))

    driver.find_element(By.CSS_SELECTOR, "#watch-view button[data-speed='16']").click()
    wait_for("the end of the run at 16x",
             lambda: not watch_status(driver).startswith("Step"), PLAY_SECONDS)
    check(watch_status(driver) == want_end,
          f"the viewer ended with '{watch_status(driver)}', expected '{want_end}'")
    driver.save_screenshot(os.path.join(shots, "desktop-watch-end.png"))
    save_picture(driver, run["id"], plan["picture"])

    # A run whose check values were altered stops where the server found it differs.
    damaged = plan["damaged"]
    want_desync = f"This run does not play the same here (step {damaged['first_bad_step']})"
    driver.get(url + f"#watch/{damaged['id']}")
    wait_for("the damaged run to load", lambda: not watch_status(driver).startswith("Loading"))
    driver.find_element(By.CSS_SELECTOR, "#watch-view button[data-speed='16']").click()
    wait_for("the damaged run to stop",
             lambda: not watch_status(driver).startswith("Step"), PLAY_SECONDS)
    check(watch_status(driver) == want_desync,
          f"the damaged run shows '{watch_status(driver)}', expected '{want_desync}'")

    # A run of older rules is not tried: the page points to the game instead.
    driver.get(url + f"#watch/{plan['old_rules']}")
    wait_for("the older rules' text", lambda: "older rules" in watch_status(driver))
    check("zarquill --replay" in watch_status(driver),
          f"a run of older rules shows '{watch_status(driver)}'")

    # A phone's width: the picture fits the screen and shows the game.
    driver.set_window_size(390, 844)
    driver.get(url + f"#watch/{run['id']}")
    wait_for("the run to play on a phone", lambda: (playing_step(driver) or 0) > 120)
    check_no_sideways_scroll(driver, "the viewer at a phone's width")
    driver.save_screenshot(os.path.join(shots, "phone-watch.png"))
    share = lit_share(driver, driver.find_element(By.ID, "watch-canvas"))
    check(share >= MIN_LIT_SHARE, f"the playing canvas is {share:.2%} lit on a phone")

    # The browser takes the drawing context away and gives it back: the game is drawn again.
    driver.execute_script("""
        const canvas = document.getElementById('watch-canvas');
        const lose = canvas.getContext('webgl').getExtension('WEBGL_lose_context');
        window.contextEvents = [];
        canvas.addEventListener('webglcontextlost', () => {
          window.contextEvents.push('lost');
          setTimeout(() => lose.restoreContext(), 100);
        });
        canvas.addEventListener('webglcontextrestored', () => {
          window.contextEvents.push('restored');
        });
        lose.loseContext();""")
    wait_for("the context to come back",
             lambda: driver.execute_script("return window.contextEvents.length") == 2)
    back = playing_step(driver) or 0
    wait_for("the run to go on after the context came back",
             lambda: (playing_step(driver) or 0) > back + 120)
    share = lit_share(driver, driver.find_element(By.ID, "watch-canvas"))
    check(share >= MIN_LIT_SHARE, f"the canvas is {share:.2%} lit after its context came back")

    # Frames that come late lower the picture's detail; once they come on time for a while, it
    # goes back up. The run starts afresh and the frames' times are given, so neither the
    # machine's speed nor what came before plays a part.
    full, lowered, raised = play_afresh(driver, run["id"], """
        const full = canvas.width;
        let t = 0;
        for (let i = 0; i < 61; ++i) viewer.advance(1, t += 40);  // two windows, all late
        const lowered = canvas.width;
        for (let i = 0; i < 330; ++i) viewer.advance(1, t += 1000 / 60);  // 11 on time
        return [full, lowered, canvas.width];""")
    check(lowered < full, f"late frames left the canvas {lowered} pixels wide (was {full})")
    check(raised > lowered, f"frames on time left the canvas {raised} pixels wide ({lowered})")
    driver.set_window_size(1280, 900)


def check_without_viewer(driver, url, run_id):
    """Checks that a page whose viewer files cannot be had offers no Watch."""
    driver.execute_cdp_cmd("Network.enable", {})
    driver.execute_cdp_cmd("Network.setBlockedURLs", {"urlPatterns": [
        {"urlPattern": "*://*:*/viewer/files.json", "block": True}]})
    driver.get("about:blank")  # a new document, not a move within the page
    driver.get(url + "#hard")
    rows_of(driver, "board")
    check(not driver.find_elements(By.CSS_SELECTOR, "#board a.watch"),
          "a Watch link without the viewer")
    driver.get(url + f"#watch/{run_id}")
    check(wait_for("the no-viewer text", lambda: "zarquill --replay" in watch_status(driver)),
          f"without the viewer #watch shows '{watch_status(driver)}'")
    driver.execute_cdp_cmd("Network.setBlockedURLs", {"urlPatterns": []})
    # The refused request is logged as an error; only it.
    errors = [e["message"] for e in driver.get_log("browser") if e["level"] == "SEVERE"]
    check(all("/viewer/files.json" in e for e in errors), "browser errors: " + "; ".join(errors))


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        plan = json.load(f)
    url = plan["url"]
    shots = plan["shots"]
    global viewer_served
    viewer_served = plan["viewer"]["served"]
    os.makedirs(shots, exist_ok=True)
    work = tempfile.mkdtemp(prefix="zq-browser-")
    downloads = os.path.join(work, "downloads")
    os.makedirs(downloads)
    driver = start_browser(os.path.join(work, "profile"), downloads)
    try:
        # The address without a tab shows Easy; every board's rows as seeded.
        driver.get(url)
        check_board(driver, "easy", plan["boards"]["easy"])
        check(VERIFIED_SENTENCE in driver.find_element(By.TAG_NAME, "body").text,
              "the verified sentence is not on the page")
        driver.save_screenshot(os.path.join(shots, "desktop.png"))

        # A name made of markup shows as its text and makes no element.
        names = driver.find_elements(By.CSS_SELECTOR, "#board td.name")
        check(any(n.text == plan["markup"] for n in names),
              "the markup name is not shown as text")
        check(not driver.find_elements(By.CSS_SELECTOR, "#board td.name :not(a)"),
              "a name became markup")

        # Tabs by clicking (the address follows), by address, and back again.
        driver.find_element(By.ID, "tab-hard").click()
        wait_for("#hard in the address", lambda: driver.current_url.endswith("#hard"))
        check_board(driver, "hard", plan["boards"]["hard"])
        driver.get(url + "#medium")
        check_board(driver, "medium", plan["boards"]["medium"])
        driver.back()
        check_board(driver, "hard", plan["boards"]["hard"])

        # A rejected run is on no board.
        for board in TITLES:
            driver.get(url + "#" + board)
            rows = rows_of(driver, "board")
            check(all(r[1] != plan["absent"] for r in rows),
                  f"the rejected run of {plan['absent']} is on {board}")

        # The download link of a row gives the replay's bytes, named as the game names replays.
        download = plan["download"]
        driver.get(url + "#" + download["board"])
        rows_of(driver, "board")
        link = driver.find_elements(By.CSS_SELECTOR, "#board tbody tr")[download["rank"] - 1] \
            .find_element(By.CSS_SELECTOR, "a.download")
        link.click()

        def downloaded():
            done = [n for n in os.listdir(downloads) if not n.endswith(".crdownload")]
            return done[0] if done else None
        name = wait_for("the replay download", downloaded)
        if name:
            with open(os.path.join(downloads, name), "rb") as f:
                got = f.read()
            with open(download["file"], "rb") as f:
                want = f.read()
            check(got == want, f"downloaded {len(got)} bytes, the replay has {len(want)}")
            check(name.endswith(".zqr"), f"downloaded file named '{name}'")

        # A player's page from a name on a board.
        player = plan["player"]
        driver.get(url + "#easy")
        rows_of(driver, "board")
        driver.find_element(By.LINK_TEXT, player["name"]).click()
        wait_for("the player's address", lambda: driver.current_url.endswith(
            "#player/" + urllib.parse.quote(player["name"], safe="")))
        rows = rows_of(driver, "player")
        check(driver.find_element(By.ID, "player-title").text == player["name"],
              "the player's page title")
        check([r[1] for r in rows] == [f"{s:,}" for s in player["scores"]],
              f"player's scores {[r[1] for r in rows]}, expected {player['scores']}")
        check(all(r[2].endswith("verified") for r in rows), "player's runs are not verified")
        ranked = [r[3] for r in rows if r[3]]
        check(len(ranked) == player["ranked"] and all(re.fullmatch(r"#\d+", x) for x in ranked),
              f"player's ranks {[r[3] for r in rows]}, expected {player['ranked']} places")
        check(VERIFIED_SENTENCE in driver.find_element(By.ID, "player-view").text,
              "the verified sentence is not on the player's page")
        driver.save_screenshot(os.path.join(shots, "desktop-player.png"))

        # The markup name's own page: the heading is text.
        driver.get(url + "#player/" + urllib.parse.quote(plan["markup"], safe=""))
        rows_of(driver, "player")
        check(driver.find_element(By.ID, "player-title").text == plan["markup"],
              "the markup name's page title")
        check(not driver.find_elements(By.CSS_SELECTOR, "#player-title *"),
              "the markup name's title became markup")

        # A phone's width: nothing wider than the screen, even the longest name.
        driver.set_window_size(390, 844)
        driver.get(url + "#easy")
        rows_of(driver, "board")
        check_no_sideways_scroll(driver, "the board at a phone's width")
        driver.save_screenshot(os.path.join(shots, "phone.png"))
        driver.get(url + "#player/" + urllib.parse.quote(player["name"], safe=""))
        rows_of(driver, "player")
        check_no_sideways_scroll(driver, "the player's page at a phone's width")
        driver.save_screenshot(os.path.join(shots, "phone-player.png"))

        driver.set_window_size(1280, 900)
        if viewer_served:
            check_viewer(driver, url, plan["viewer"], shots)

        # Nothing was refused by the content policy or failed to load (a server
        # without the viewer answers its files' list with 404).
        errors = [e["message"] for e in driver.get_log("browser") if e["level"] == "SEVERE"
                  and (viewer_served or "/viewer/files.json" not in e["message"])]
        check(not errors, "browser errors: " + "; ".join(errors))

        check_without_viewer(driver, url, plan["viewer"]["run"]["id"])
    finally:
        driver.quit()
        shutil.rmtree(work, ignore_errors=True)
    print(f"browser: {len(failures)} failed checks; screenshots in {shots}", flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
