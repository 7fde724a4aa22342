#!/usr/bin/env python3
"""The monitor's page in headless Chromium at 1280x900: a rack of 16 scripted boards in view,
board a's lamps and alarm following its lock changes with the boards in alarm first, no word of
the chip's misspelled mode text, the detail's charts gaining points, a capture asked for from the
page showing its square constellation and MER, no console error, and every request to the monitor
itself. Then the real demodmon on two regservers: both boards live, and a capture from the page."""

import json
import os
import re
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_fixture import Monitor, skip, wait_for  # noqa: E402

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
PHASE = 5          # the scripted feed's samples per lock phase (web_fixture_main.cpp)
RACK = 16          # the scripted feed's boards
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


# A board's row in one turn of the page's script: its last sample index, lamps and alarm, whether
# every row is in the 1280x900 view, and whether the rows are in alarm order.
SNAPSHOT_JS = """
const rows = Array.from(document.querySelectorAll('tr.board-row'));
const row = rows.find(r => r.dataset.board === '%s');
if (!row) return null;
const rank = rows.map(r => ['no connection', 'no lock', 'degraded', 'ok'].indexOf(r.dataset.alarm));
return {index: Number(row.dataset.index), alarm: row.dataset.alarm, rows: rows.length,
        lamps: Array.from(row.querySelectorAll('.lamp')).map(l => l.dataset.on === '1'),
        in_view: rows.every(r => r.getBoundingClientRect().bottom <= window.innerHeight),
        sorted: rank.every((r, i) => i === 0 || rank[i - 1] <= r),
        alarms: Object.fromEntries(rows.map(r => [r.dataset.board, r.dataset.alarm]))};
"""
CHART_JS = """
const chart = Chart.getChart(document.querySelector('#detail canvas[data-series="%s"]'));
return chart && {points: chart.data.datasets[0].data.length, x: [chart.scales.x.min,
  chart.scales.x.max, chart.options.scales.x.title.text], y: [chart.scales.y.min,
  chart.scales.y.max, chart.options.scales.y.title.text]};
"""
# Words of the chip's own mode text that the page never shows.
MISSPELLED = re.compile(r"\b(unkown|Directv|NA|Reserved)\b")


def check_no_console_error(driver):
    errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
    assert not errors, "console errors: %s" % errors


def capture_from_page(driver):
    """Opens board a's detail and asks for a capture; the MER element once the capture shows."""
    driver.find_element(By.CSS_SELECTOR, 'tr.board-row[data-board="a"]').click()
    driver.find_element(By.CSS_SELECTOR, "#detail button.capture").click()
    mer = driver.find_element(By.CSS_SELECTOR, "#detail .mer")
    wait_for("the capture", lambda: mer.get_attribute("data-points") == "2048", WAIT_S)
    return mer


def check_page(driver, fixture):
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 1280, "height": 900, "deviceScaleFactor": 1, "mobile": False})
    driver.get(fixture.origin + "/")
    # Every row in view; board a's lamps and alarm follow the script through a loss of lock and a
    # recovery, sorted first while out of lock.
    seen = set()

    def rack_follows():
        snap = driver.execute_script(SNAPSHOT_JS % "a")
        if not snap or snap["index"] == 0 or snap["rows"] < RACK:
            return False
        lock = locked(snap["index"])
        expected = [True] * 6 if lock else [True] * 4 + [False] * 2
        assert snap["lamps"] == expected, "sample %d shows lamps %s" % (snap["index"], snap["lamps"])
        assert snap["alarm"] == ("ok" if lock else "no lock"), snap
        assert snap["in_view"] and snap["sorted"], snap
        assert snap["alarms"]["b"] == "degraded" and snap["alarms"]["c"] == "no connection", snap
        seen.add(lock)
        return len(seen) == 2
    wait_for("the rack to show board a with lock and without", rack_follows, WAIT_S)
    text = driver.find_element(By.TAG_NAME, "body").text
    assert not MISSPELLED.search(text), text

    driver.find_element(By.CSS_SELECTOR, 'tr.board-row[data-board="a"]').click()
    assert driver.find_element(By.CSS_SELECTOR, "#detail .no-capture").is_displayed()
    for series in ("strength_dbm", "cn_db", "ber"):  # the detail's charts gain points
        before = driver.execute_script(CHART_JS % series)["points"]
        assert before > 0, "chart %s has no points" % series
        wait_for("chart %s to gain points" % series,
                 lambda: driver.execute_script(CHART_JS % series)["points"] > before, WAIT_S)

    mer = capture_from_page(driver)
    assert "MER 15.5 dB" in mer.text, mer.text
    scatter = driver.execute_script(CHART_JS % "constellation")
    assert scatter["points"] == 2048, scatter
    span = scatter["x"][1]  # square: equal axes symmetric about 0
    assert scatter["x"] == [-span, span, "I"] and scatter["y"] == [-span, span, "Q"], scatter


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
