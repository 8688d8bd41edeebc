#!/usr/bin/python3
"""Figures of the game in the browser: a real board's /play in headless Chromium.

Starts the built board (with its WebAssembly bundle) on a free loopback port
and measures: the bytes and seconds to the title screen on a first visit (the
sprite-budget test included) and on a later one (the bundle from the cache);
then plays Hard games one after another with mouse input for MINUTES minutes
and prints the gaps between displayed frames (p50, p95, p99), the delay from
an input event to the end of the step that showed it, and the program's
WebAssembly memory and the page's script heap at the start and the end.
Figures only: nothing here passes or fails.

Usage: browser_play.py [--minutes N] [--board PATH]
"""

import argparse
import os
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "browser"))
sys.path.insert(0, os.path.join(here, "..", "tests", "support"))
import play_page  # noqa: E402
from browser_checks import CanvasInput  # noqa: E402


def memory(driver):
    return driver.execute_script("return ZarquillPlay.memory()")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--board", default=os.path.join(here, "..", "build", "board",
                                                         "zarquill-board"))
    args = parser.parse_args()
    with play_page.board_and_browser(args.board, ["--enable-precise-memory-info"]) as (
            driver, base):
        first = play_page.open_game(driver, base + "/play", "first visit")
        first_bytes = sum(r["bytes"] for r in driver.execute_script(play_page.RESOURCES))
        later = play_page.open_game(driver, base + "/play", "later visit")
        later_bytes = sum(r["bytes"] for r in driver.execute_script(play_page.RESOURCES))
        print("first visit: %.1f s to the title, %d bytes over the network" % (first, first_bytes))
        print("later visit: %.1f s to the title, %d bytes over the network" % (later, later_bytes))
        send = CanvasInput(driver, "document.getElementById('play-canvas')")
        start_memory = memory(driver)
        gaps, delays, games = [], [], 0
        end = time.monotonic() + args.minutes * 60
        while time.monotonic() < end:
            if not play_page.start_hard(driver, send):
                break
            games += 1
            while time.monotonic() < end and play_page.place(driver) == "game":
                g, d = play_page.play_with_mouse(driver, send, min(30, end - time.monotonic()))
                gaps += g
                delays += d
            if play_page.place(driver) in ("game", "paused"):
                play_page.quit_to_name_entry(driver, send)
            if play_page.place(driver) == "name":
                play_page.enter_name(driver, send, "Bench")
            # The question after the first run: runs stay in the browser here.
            play_page.until(lambda: driver.execute_script(
                "return document.getElementById('play-ask-sharing').open"), 2)
            driver.execute_script("var d = document.getElementById('play-ask-sharing');"
                                  " if (d.open) d.querySelector('button[value=no]').click();")
        end_memory = memory(driver)
        pct = play_page.percentile
        print("played %d Hard games for %.1f minutes: %d frames, gaps p50 %.1f ms, p95 %.1f ms,"
              " p99 %.1f ms" % (games, args.minutes, len(gaps), pct(gaps, 50), pct(gaps, 95),
                                pct(gaps, 99)))
        print("input event to the end of the step that showed it: p50 %.1f ms, p95 %.1f ms"
              " (%d events)" % (pct(delays, 50), pct(delays, 95), len(delays)))
        print("memory: WebAssembly %d -> %d bytes, script heap %d -> %d bytes"
              % (start_memory["wasm"], end_memory["wasm"], start_memory["heap"],
                 end_memory["heap"]))
        print("games on Hard: %d" % games)
        if play_page.failures:
            print("(checks that failed on the way: %s)" % play_page.failures)
    return 0


if __name__ == "__main__":
    sys.exit(main())
