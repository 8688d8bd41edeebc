#!/usr/bin/python3
"""Benchmark of the board's viewer in headless Chromium (software WebGL).

Starts the built zarquill-board on a free loopback port in a temporary folder,
sends it the Hard golden replay and a ten-minute Hard game (the one
zq_viewer_bench_game made, kept with the test data), waits for their verdicts,
then watches them in the page and prints: bytes transferred for the first Watch (a fresh browser) and
for later ones (the bundle cached), the time from Watch to the first frame,
frame times at 1x, steps per second at 16x, and the long game played at 16x
to its end (every check value matching gives "Finished · score X" with the
board's score). Everything stops by itself; nothing leaves this machine. Not
part of the tests.

Usage: bench/viewer_bench.py [--build DIR] [--game FILE.zqr]
"""

import argparse
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
WAIT_SECONDS = 30
PLAY_SECONDS = 600
FRAME_SAMPLE_SECONDS = 10
RATE_SAMPLE_SECONDS = 5
# Where the long game's 1x frames are measured, after the viewer has had time to settle.
BUSY_STEP = 18000
SETTLE_SECONDS = 5


def wait_for(what, probe, seconds=WAIT_SECONDS):
    """Polls probe() until it returns a true value; exits when it never does."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = probe()
        if value:
            return value
        time.sleep(0.02)
    sys.exit("viewer_bench: timed out waiting for " + what)


def start_server(board, data):
    """Starts the board on a free loopback port; returns (process, base address, log path)."""
    log_path = os.path.join(data, "server.log")
    log = open(log_path, "wb")
    proc = subprocess.Popen([board, "--listen", "127.0.0.1:0", "--data", data],
                            stdout=subprocess.DEVNULL, stderr=log)

    def port():
        with open(log_path, encoding="utf-8", errors="replace") as f:
            m = re.search(r"listening on 127\.0\.0\.1:(\d+)$", f.read(), re.M)
        if proc.poll() is not None:
            sys.exit("viewer_bench: the server did not start:\n" + open(log_path).read())
        return m.group(1) if m else None
    return proc, "http://127.0.0.1:" + wait_for("the server", port), log_path


def submit(base, path, token):
    """Sends a replay and waits for its verdict; returns the run's JSON."""
    with open(path, "rb") as f:
        body = f.read()
    request = urllib.request.Request(base + "/api/v1/runs", data=body, method="POST", headers={
        "Authorization": "Bearer " + token, "Content-Type": "application/octet-stream"})
    with urllib.request.urlopen(request, timeout=10) as reply:
        run_id = json.load(reply)["id"]

    def verdict():
        with urllib.request.urlopen(f"{base}/api/v1/runs/{run_id}", timeout=10) as reply:
            run = json.load(reply)
        return run if run["state"] != "pending" else None
    run = wait_for(f"the verdict of {path}", verdict, 120)
    if run["state"] != "verified":
        sys.exit(f"viewer_bench: {path} was not verified: {run}")
    return run


def start_browser(profile):
    """Starts headless Chromium with software WebGL and a fresh profile."""
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ["--headless", "--no-sandbox", "--disable-gpu", "--enable-unsafe-swiftshader",
                "--use-angle=swiftshader", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update",
                "--disable-sync", "--user-data-dir=" + profile, "--window-size=1280,900"]:
        options.add_argument(arg)
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def status(driver):
    """Returns the viewer's status line."""
    return driver.find_element(By.ID, "watch-status").text


def transferred(driver):
    """Returns the bytes this document has fetched over the network (headers included)."""
    return driver.execute_script("""
        const entries = performance.getEntriesByType('navigation')
            .concat(performance.getEntriesByType('resource'));
        return entries.reduce((sum, e) => sum + (e.transferSize || 0), 0);""")


def watch(driver, run_id):
    """Watches a run as its Watch link does; returns ms from the click to the first frame."""
    driver.execute_script("""
        window.benchFirstFrame = null;
        const status = document.getElementById('watch-status');
        new MutationObserver((changes, observer) => {
          if (status.textContent.startsWith('Step')) {
            window.benchFirstFrame = performance.now();
            observer.disconnect();
          }
        }).observe(status, {childList: true, characterData: true, subtree: true});
        window.benchClickAt = performance.now();
        location.hash = '#watch/' + arguments[0];  // as a Watch link does""", run_id)
    wait_for("the first frame", lambda: driver.execute_script("return window.benchFirstFrame"))
    return driver.execute_script("return window.benchFirstFrame - window.benchClickAt")


def open_board(driver, base):
    """Loads the Hard board as a new visit and waits for its Watch links."""
    driver.get("about:blank")  # a new document, not a move within the page
    driver.get(base + "/#hard")
    wait_for("the Watch links", lambda: driver.find_elements(By.CSS_SELECTOR, "a.watch"))


def frame_times(driver, seconds):
    """Samples animation frame intervals, the viewer's work per frame, steps per second and
    the lowest detail (share of each side's pixels) the viewer drew at."""
    driver.execute_script("""
        window.benchIntervals = [];
        window.benchWork = [];
        const viewer = playback.viewer;
        const advance = viewer.advance.bind(viewer);
        window.benchSteps = [];  // [time, step] after each advance
        window.benchDetail = 1;  // the lowest detail the viewer drew at
        viewer.advance = (n, now) => {
          const t = performance.now();
          const r = advance(n, now);
          window.benchWork.push(performance.now() - t);
          window.benchSteps.push([performance.now(), r.step]);
          window.benchDetail = Math.min(window.benchDetail, r.detail);
          return r;
        };
        let last = null;
        window.benchStop = false;
        const tick = (t) => {
          if (last !== null) window.benchIntervals.push(t - last);
          last = t;
          if (!window.benchStop) requestAnimationFrame(tick);
        };
        requestAnimationFrame(tick);""")
    time.sleep(seconds)
    return driver.execute_script("""
        window.benchStop = true;
        const steps = window.benchSteps;
        const rate = steps.length < 2 ? 0 : (steps[steps.length - 1][1] - steps[0][1]) * 1000 /
            (steps[steps.length - 1][0] - steps[0][0]);
        return [window.benchIntervals, window.benchWork, rate, window.benchDetail];""")


def visit_and_watch(driver, base, run_id):
    """Opens the board afresh and watches a run; returns the page's bytes, the bytes Watch
    fetched after it, and the milliseconds from Watch to the first frame."""
    open_board(driver, base)
    page_bytes = transferred(driver)
    ms = watch(driver, run_id)
    return page_bytes, transferred(driver) - page_bytes, ms


def p95(values):
    """Returns the 95th percentile of values."""
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(0.95 * len(ordered)))] if ordered else float("nan")


def step_shown(driver):
    """Returns the step the status line shows (0 when it shows none)."""
    m = re.match(r"Step ([\d,]+) of", status(driver))
    return int(m.group(1).replace(",", "")) if m else 0


def print_1x(what, intervals, work_ms, rate, detail):
    """Prints a sample of frames at 1x."""
    print(f"{what}: {len(intervals)} frames in {FRAME_SAMPLE_SECONDS} s, frame interval "
          f"median {statistics.median(intervals):.1f} ms p95 {p95(intervals):.1f} ms, "
          f"{late(intervals)} longer than one refresh; viewer work per frame median "
          f"{statistics.median(work_ms):.2f} ms p95 {p95(work_ms):.2f} ms; {rate:.0f} steps "
          f"per second (60 asked); lowest detail {detail:.2f}")


def late(intervals):
    """Returns how many frame intervals spanned more than one display refresh."""
    refresh = statistics.median(intervals)
    return sum(1 for i in intervals if i > 1.5 * refresh)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--game", default=os.path.join(ROOT, "tests", "data", "replays",
                                                       "hard-ten-minutes.zqr"),
                        help="the long game watched at 16x (default: the ten-minute Hard game)")
    args = parser.parse_args()
    board = os.path.join(args.build, "board", "zarquill-board")
    if not os.path.isdir(os.path.join(args.build, "board", "web", "viewer")):
        sys.exit("viewer_bench: no viewer beside the server (build with -DZQ_BUILD_WASM=ON)")
    work = tempfile.mkdtemp(prefix="zq-viewer-bench-")
    server = None
    driver = None
    try:
        game = args.game
        os.makedirs(os.path.join(work, "data"))
        server, base, _ = start_server(board, os.path.join(work, "data"))
        golden = submit(base, os.path.join(ROOT, "tests", "data", "replays", "hard.zqr"),
                        "a" * 32)
        long_run = submit(base, game, "a" * 32)
        bundle = json.load(urllib.request.urlopen(base + "/viewer/files.json", timeout=10))
        sizes = {name: len(urllib.request.urlopen(base + address, timeout=10).read())
                 for name, address in bundle.items()}
        print("bundle: " + ", ".join(f"{n} {s:,} B" for n, s in sizes.items()))

        driver = start_browser(os.path.join(work, "profile"))
        driver.set_script_timeout(30)
        # First Watch, nothing cached.
        page_bytes, first_bytes, first_ms = visit_and_watch(driver, base, golden["id"])
        print(f"first Watch: {first_bytes:,} B transferred after the board page's "
              f"{page_bytes:,} B; {first_ms:.0f} ms from Watch to the first frame")

        # Frames at 1x on the golden run (it plays from the start at 1x).
        print_1x("1x on the Hard golden", *frame_times(driver, FRAME_SAMPLE_SECONDS))
        driver.find_element(By.ID, "watch-pause").click()
        intervals, _, _, _ = frame_times(driver, RATE_SAMPLE_SECONDS)
        print(f"paused: frame interval median {statistics.median(intervals):.1f} ms "
              f"p95 {p95(intervals):.1f} ms, {late(intervals)} longer than one refresh "
              f"(the page's timer counts in steps of 0.1 ms)")

        # A later Watch in a new visit: the bundle comes from the cache.
        page_bytes, later_bytes, later_ms = visit_and_watch(driver, base, golden["id"])
        print(f"later Watch (new visit, bundle cached): {later_bytes:,} B transferred after "
              f"the board page's {page_bytes:,} B; {later_ms:.0f} ms to the first frame")

        # 16x on the long game: the rate reached, then on to its end.
        open_board(driver, base)
        watch(driver, long_run["id"])
        driver.find_element(By.CSS_SELECTOR, "#watch-view button[data-speed='16']").click()
        started = time.monotonic()
        intervals, work_ms, rate, _ = frame_times(driver, RATE_SAMPLE_SECONDS)
        print(f"16x: {rate:.0f} steps per second (960 asked); frame interval median "
              f"{statistics.median(intervals):.1f} ms p95 {p95(intervals):.1f} ms; viewer work "
              f"per frame p95 {p95(work_ms):.2f} ms over {len(work_ms)} frames")
        want = f"Finished · score {long_run['score']:,}"
        wait_for("the long game's end", lambda: not status(driver).startswith("Step"),
                 PLAY_SECONDS)
        played = time.monotonic() - started
        end = status(driver)
        print(f"long game: {long_run['frames']} steps ({long_run['frames'] / 60:.0f} s of play) "
              f"at 16x in {played:.1f} s: '{end}' "
              f"({'every check value matched' if end == want else 'expected ' + want})")

        # 1x where the long game is busiest (its screen fills as it goes on): reached at 16x.
        open_board(driver, base)
        watch(driver, long_run["id"])
        driver.find_element(By.CSS_SELECTOR, "#watch-view button[data-speed='16']").click()
        wait_for("the long game's fifth minute", lambda: step_shown(driver) >= BUSY_STEP, 120)
        driver.find_element(By.CSS_SELECTOR, "#watch-view button[data-speed='1']").click()
        time.sleep(SETTLE_SECONDS)
        print_1x(f"1x from step {BUSY_STEP:,} of the long game",
                 *frame_times(driver, FRAME_SAMPLE_SECONDS))
        return 0 if end == want else 1
    finally:
        if driver:
            driver.quit()
        if server:
            server.send_signal(signal.SIGTERM)
            try:
                server.wait(timeout=15)
            except subprocess.TimeoutExpired:
                server.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
