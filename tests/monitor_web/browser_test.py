#!/usr/bin/env python3
"""The monitor's page in headless Chromium: it loads without a console error, its lamps follow
the scripted lock changes, its charts gain points, a capture asked for from the page shows its
constellation and MER, and every request it makes goes to the monitor itself. Then the real
demodmon on two regservers: both boards live on the page, and a capture from it."""

import json
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_fixture import Monitor, skip, wait_for  # noqa: E402

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
PHASE = 5          # the scripted feed's samples per lock phase (web_fixture_main.cpp)
WAIT_S = 20        # bound on each wait for the page
FADING_SAMPLES = 8  # samples scenarios/fading.json scripts before it stays locked

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    skip("python3-selenium is not installed (scripts/install-deps.sh installs it)")
for path in (CHROMIUM, CHROMEDRIVER):
    if not os.access(path, os.X_OK):
        skip(path + " is missing: install chromium and chromium-driver (scripts/install-deps.sh)")


def locked(index):
    """Whether the scripted feed's sample `index` is locked."""
    return ((index - 1) // PHASE) % 2 == 0


# A board's last shown sample index and its lamps, read in one turn of the page's script.
SNAPSHOT_JS = """
const root = document.querySelector('section.board[data-board="%s"]');
if (!root) return null;
return {index: Number(root.dataset.index),
        lamps: Array.from(root.querySelectorAll('.lamps span')).map(l => l.dataset.on === '1')};
"""
POINTS_JS = """
const canvas = document.querySelector('section.board[data-board="a"] canvas[data-series="%s"]');
const chart = canvas && Chart.getChart(canvas);
return chart ? chart.data.datasets[0].data.length : -1;
"""


def check_no_console_error(driver):
    errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
    assert not errors, "console errors: %s" % errors


def capture_from_page(driver):
    """Asks for a capture of board a from its button; the MER element once the capture shows."""
    driver.find_element(By.CSS_SELECTOR, 'section.board[data-board="a"] button.capture').click()
    mer = driver.find_element(By.CSS_SELECTOR, 'section.board[data-board="a"] .mer')
    wait_for("the capture", lambda: mer.get_attribute("data-points") == "2048", WAIT_S)
    return mer


def check_page(driver, fixture):
    driver.get(fixture.origin + "/")
    # The lamps follow the script, through a loss of lock and a recovery.
    seen = set()

    def lamps_follow():
        snap = driver.execute_script(SNAPSHOT_JS % "a")
        if not snap or snap["index"] == 0:
            return False
        expected = [True] * 6 if locked(snap["index"]) else [True] * 4 + [False] * 2
        assert snap["lamps"] == expected, "sample %d shows lamps %s" % (snap["index"], snap["lamps"])
        seen.add(locked(snap["index"]))
        return len(seen) == 2
    wait_for("the lamps to show lock and no lock", lamps_follow, WAIT_S)

    # The charts gain points.
    for series in ("strength_dbm", "cn_db", "ber"):
        before = driver.execute_script(POINTS_JS % series)
        assert before > 0, "chart %s has no points" % series
        wait_for("chart %s to gain points" % series,
                 lambda: driver.execute_script(POINTS_JS % series) > before, WAIT_S)

    mer = capture_from_page(driver)
    assert "MER 15.5 dB" in mer.text, mer.text
    assert driver.execute_script(POINTS_JS % "constellation") == 2048


def check_real_monitor(driver, monitor):
    driver.get(monitor.origin + "/")

    def past_fading(board):
        snap = driver.execute_script(SNAPSHOT_JS % board)
        return snap and snap["index"] > FADING_SAMPLES and all(snap["lamps"])
    # The fading script ends locked; a capture taken before then may rightly have no MER.
    wait_for("both boards to be locked past their fading script",
             lambda: past_fading("a") and past_fading("b"), WAIT_S)
    mer = capture_from_page(driver)
    assert "MER" in mer.text and "dB" in mer.text, mer.text
    check_no_console_error(driver)


def check_logs(driver, fixture):
    check_no_console_error(driver)
    urls = []
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.requestWillBeSent":
            urls.append(message["params"]["request"]["url"])
    # Chromium's own pages (chrome://, about:, data:) are read from the browser itself; every
    # request that would go out on a network must go to the monitor.
    network = [u for u in urls if u.split(":", 1)[0] in ("http", "https", "ws", "wss", "ftp")]
    outside = [u for u in network if not u.startswith(fixture.origin + "/")]
    assert not outside, "requests outside the monitor: %s" % outside
    for path in ("/", "/chart.js", "/api/state", "/events", "/api/capture?board=a"):
        assert fixture.origin + path in urls, path + " was not requested: %s" % urls


def main():
    fixture = Monitor(False)
    profile = tempfile.mkdtemp(prefix="demodmon-browser-")
    driver = None
    try:
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + profile):
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
        driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        driver.set_page_load_timeout(WAIT_S)
        check_page(driver, fixture)
        check_logs(driver, fixture)
        print("event stream opened %s time(s)" % driver.execute_script("return window.streamOpens"))
        monitor = Monitor(True, "--allow-captures", "--capture-dir", profile)
        try:
            check_real_monitor(driver, monitor)
        finally:
            monitor.stop()
    finally:
        if driver:
            driver.quit()
        fixture.stop()
        shutil.rmtree(profile, ignore_errors=True)
    print("the page passed every check")


if __name__ == "__main__":
    main()
