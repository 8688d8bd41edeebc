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
