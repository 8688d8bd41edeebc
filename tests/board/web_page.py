#!/usr/bin/python3
"""Drives the board's web page in headless Chromium for web_test.cpp.

The C++ test seeds a real server and writes a plan (JSON: the page's address,
the rows each board must show, a name made of markup, a replay to download,
a player with their runs, where screenshots go). This script loads the page,
checks it against the plan and saves screenshots at a desktop's and a phone's
width. It prints one line per failed check and exits 1 when any failed.

Usage: web_page.py PLAN.json
"""

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
WAIT_SECONDS = 20
VERIFIED_SENTENCE = "the server re-played this run and got the same score"
TITLES = {"easy": "Easy", "medium": "Medium", "hard": "Hard"}

failures = []


def check(ok, what):
    """Records a failed check."""
    if not ok:
        failures.append(what)
        print("FAIL: " + what, flush=True)
    return ok


def wait_for(what, probe):
    """Polls probe() until it returns a true value (bounded); returns its last value."""
    deadline = time.monotonic() + WAIT_SECONDS
    value = probe()
    while not value and time.monotonic() < deadline:
        time.sleep(0.05)
        value = probe()
    check(value, "timed out waiting for " + what)
    return value


def start_browser(user_data, downloads):
    """Starts headless Chromium through chromedriver with a fresh profile."""
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
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
        check(row[5] == "Download", f"{board} replay cell '{row[5]}'")


def check_no_sideways_scroll(driver, what):
    """Checks that the page fits the window's width."""
    width = driver.execute_script(
        "return [document.documentElement.scrollWidth, window.innerWidth]")
    check(width[0] <= width[1], f"{what} is wider than the window: {width[0]} > {width[1]}")


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        plan = json.load(f)
    url = plan["url"]
    shots = plan["shots"]
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

        # Nothing was refused by the content policy or failed to load.
        errors = [e["message"] for e in driver.get_log("browser") if e["level"] == "SEVERE"]
        check(not errors, "browser errors: " + "; ".join(errors))
    finally:
        driver.quit()
        shutil.rmtree(work, ignore_errors=True)
    print(f"browser: {len(failures)} failed checks; screenshots in {shots}", flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
