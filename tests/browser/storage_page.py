#!/usr/bin/python3
"""Drives the browser probe page (storage_probe.html) in headless Chromium.

Serves the WebAssembly build's probe folder on a free loopback port and, in one
browser profile: starts the probe (its saves must reach IndexedDB, byte for
byte, its log line the console, and the player's token made from the page's
random source the folder); reloads it (the folder comes back from the store
before main, the token is the same, a removal is mirrored); starts it with
every put failing as a full disk does and with IndexedDB hidden (the program is
told, the console says so, the game goes on and the stored files stay as they
were). Then "Your files": export, import again, a damaged archive and a
download; and the HTTP client's fetch() form: a same-origin request is answered,
another origin is refused before anything is sent, a cancel and a time limit
end a request. Prints the write latency the page measured, one line per failed
check, and exits 1 when any failed; 77 when the browser is missing and CI is
not set.

Usage: storage_page.py PROBE_FOLDER
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from browser_checks import (check, chromium_session, failures, run_script,  # noqa: E402
                            serve_folder, store_reader, wait_for)
REPLAY_BYTES = 70000



# Reads every entry of the store as {key: [its first 64 bytes as numbers, its length]}.
READ_STORE = store_reader("""function (key, bytes) {
  return Array.from(bytes.length > 64 ? bytes.subarray(0, 64) : bytes).concat([bytes.length]);
}""")


def text_of(entry):
    """Returns a stored entry's bytes (its first 64) as text."""
    return bytes(entry[:-1]).decode("latin-1") if entry else None


def run(driver, url, label):
    """Loads the page, waits for the probe to finish; returns its printed lines."""
    driver.get(url)
    lines = wait_for(label + ": the probe finishing",
                     lambda: driver.execute_script(
                         "return window.zqLines && window.zqLines.indexOf('done') >= 0"
                         " ? window.zqLines : null"))
    return lines or []


def settled(driver):
    """Waits until every write the page started is confirmed; returns the figures."""
    return wait_for("every write confirmed", lambda: driver.execute_script(
        "var f = Module.zqFiles; return f && f.pending.size === 0 && f.confirmed === f.started"
        " ? {started: f.started, lastMs: f.lastMs} : null"))


def exercise(driver, base):
    """Runs every case against the probe page at base."""
    # First start: an empty store; the saves reach it.
    lines = run(driver, base, "first start")
    check("found starts=0 replay=-1 old=-" in lines, "first start found files: %s" % lines)
    figures = settled(driver) or {}
    store = driver.execute_async_script(READ_STORE)
    check(text_of(store.get("Setup.ini")) == "starts=1", "Setup.ini stored: %s" % store)
    check(store.get("old.txt", [0])[-1] == 3, "old.txt stored")
    replay = store.get("replays/a.zqr", [0])
    check(replay[-1] == REPLAY_BYTES and replay[:4] == [0, 31, 62, 93],
          "the replay stored byte for byte")
    check(not any(k.startswith("tmp") or ".tmp" in k or "XXXXXX" in k for k in store),
          "no temporary file stored: %s" % sorted(store))
    console = [e["message"] for e in driver.get_log("browser")]
    check(any("probe: a log line for the console" in m for m in console),
          "the log line reached the console: %s" % console)
    tokens = [line for line in lines if line.startswith("token=")]
    check(len(tokens) == 1 and len(tokens[0]) == len("token=") + 43,
          "a token was made: %s" % tokens)
    token = tokens[0] if tokens else ""
    check(any(k.endswith("token.txt") or "token" in k for k in store),
          "the token file was stored: %s" % sorted(store))
    print("writes confirmed: %s, last write's latency %.1f ms"
          % (figures.get("started"), figures.get("lastMs", -1)), flush=True)

    # A reload: the folder comes back before main; the removal reaches the store.
    lines = run(driver, base, "reload")
    check("found starts=1 replay=%d old=old" % REPLAY_BYTES in lines,
          "the reload found the stored files: %s" % lines)
    check(token != "" and token in lines, "the reload kept the token: %s" % lines)
    settled(driver)
    store = driver.execute_async_script(READ_STORE)
    check(text_of(store.get("Setup.ini")) == "starts=2", "Setup.ini stored again: %s" % store)
    check("old.txt" not in store, "the removal was mirrored: %s" % sorted(store))

    # Every put fails: the program is told and goes on; the store keeps what it had.
    driver.get_log("browser")
    lines = run(driver, base + "?fail=quota", "failing store")
    check("found starts=2 replay=%d old=-" % REPLAY_BYTES in lines and "saved=1" in lines,
          "the game went on with the store failing: %s" % lines)
    problem = driver.execute_script("return UTF8ToString(Module._probe_problem())")
    check("QuotaExceededError" in problem and "was not kept" in problem,
          "the failed put was reported to the program: %r" % problem)
    console = [e["message"] for e in driver.get_log("browser")]
    check(any("QuotaExceededError" in m for m in console),
          "the failed put was reported on the console: %s" % console)
    store = driver.execute_async_script(READ_STORE)
    check(text_of(store.get("Setup.ini")) == "starts=2", "the store kept its files: %s" % store)

    # No IndexedDB at all: the game starts with an empty folder and is told.
    lines = run(driver, base + "?fail=noidb", "no IndexedDB")
    check("found starts=0 replay=-1 old=-" in lines and "saved=1" in lines,
          "the game went on without IndexedDB: %s" % lines)
    problem = driver.execute_script("return UTF8ToString(Module._probe_problem())")
    check(problem == "IndexedDB unavailable", "no IndexedDB was reported: %r" % problem)

    # "Your files": the archive holds the score file and the replay; importing it
    # again changes nothing; a damaged one is refused with a reason; a download is offered.
    driver.get(base)
    wait_for("the probe", lambda: driver.execute_script(
        "return window.zqLines && window.zqLines.indexOf('done') >= 0"))
    settled(driver)
    zip_bytes = driver.execute_script("return Array.from(Module.zqFiles.exportArchive())")
    check(bytes(zip_bytes[:4]) == b"PK\x03\x04" and b"nuscores.dat" in bytes(zip_bytes)
          and b"replays/2026-12-08_12-00-00_4321_" in bytes(zip_bytes),
          "the archive holds the score file and the replay (%d bytes)" % len(zip_bytes))
    print("archive of one run and its replay: %d bytes" % len(zip_bytes), flush=True)
    report = driver.execute_script(
        "return Module.zqFiles.importArchive(new Uint8Array(arguments[0]))", zip_bytes)
    check(report.get("ok") and report.get("runsPresent") == 1
          and report.get("replaysPresent") == 1 and report.get("runsAdded") == 0,
          "importing the archive again changed nothing: %s" % report)
    report = driver.execute_script(
        "return Module.zqFiles.importArchive(new Uint8Array([80, 75, 1, 2, 3]))")
    check(not report.get("ok") and report.get("problems", [""])[0].startswith(
        "The archive cannot be read"), "a damaged archive was refused: %s" % report)
    report = driver.execute_async_script(
        "var done = arguments[arguments.length - 1];"
        "Module.zqFiles.importFile(new File([new Uint8Array(arguments[0])], 'f.zip'))"
        ".then(done, function (e) { done({error: String(e)}); });", zip_bytes)
    check(report.get("ok") and report.get("replaysPresent") == 1,
          "a picked file was imported: %s" % report)
    offered = driver.execute_script(
        "var seen = []; var make = URL.createObjectURL;"
        "URL.createObjectURL = function (b) { seen.push(b.size, b.type); return make(b); };"
        "HTMLAnchorElement.prototype.click = function () { seen.push(this.download); };"
        "var n = Module.zqFiles.download('mine.zip'); return [n].concat(seen);")
    check(offered == [len(zip_bytes), len(zip_bytes), "application/zip", "mine.zip"],
          "the download was offered: %s" % offered)

    # The HTTP client's fetch() form.
    def fetched(url, timeout_ms=5000, cancel=False):
        # Started and cancelled in one go, before the page can see an answer.
        driver.execute_script("Module.ccall('probe_fetch', null, ['string', 'number'],"
                              " [arguments[0], arguments[1]]);"
                              " if (arguments[2]) Module._probe_fetch_cancel();",
                              url, timeout_ms, cancel)
        return wait_for("an answer from " + url, lambda: driver.execute_script(
            "return UTF8ToString(Module._probe_fetch_poll())")) or ""
    answer = fetched("storage_probe.html?x")
    check(answer.startswith("200 0 "), "a same-origin request was answered: %r" % answer)
    answer = fetched("storage_probe.wasm")
    check(answer.startswith("0 4 0 "), "an answer over the size cap was refused: %r" % answer)
    answer = fetched("http://127.0.0.2:9/elsewhere")
    check(answer.startswith("0 5 0 refused:"), "another origin was refused: %r" % answer)
    answer = fetched("storage_probe.html?cancelled", cancel=True)
    check(answer.startswith("0 3 0 cancelled"), "a cancel ended the request: %r" % answer)
    answer = fetched("storage_probe.html?late", timeout_ms=0)
    check(answer.startswith("0 2 0 "), "the time limit ended the request: %r" % answer)


def main():
    server, address = serve_folder(sys.argv[1])
    try:
        with chromium_session("zq_storage_") as driver:
            exercise(driver, address + "/storage_probe.html")
    finally:
        server.shutdown()
    return 1 if failures else 0


if __name__ == "__main__":
    run_script(main)
