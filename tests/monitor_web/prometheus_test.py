#!/usr/bin/env python3
"""The monitor's /metrics scraped by a real Prometheus every second: a PromQL query returns both
boards' C/N and their lock-loss counts."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_fixture import Fixture, free_port, skip  # noqa: E402

PROMETHEUS = "/usr/bin/prometheus"
WAIT_S = 40  # bound on Prometheus starting and holding the first answers
# The fixture's C/N: board a 11 dB, board b 8 dB, each +-1 dB.
CN_RANGE = {"a": (10.0, 12.0), "b": (7.0, 9.0)}

CONFIG = """global:
  scrape_interval: 1s
  evaluation_interval: 1s
scrape_configs:
  - job_name: demodmon
    static_configs:
      - targets: ['127.0.0.1:%d']
"""


def query(base, promql):
    url = base + "/api/v1/query?" + urllib.parse.urlencode({"query": promql})
    with urllib.request.urlopen(url, timeout=5) as reply:
        body = json.load(reply)
    return {r["metric"]["board"]: float(r["value"][1]) for r in body["data"]["result"]}


def poll(what, check):
    deadline = time.monotonic() + WAIT_S
    last = None
    while time.monotonic() < deadline:
        try:
            last = check()
            if last:
                return last
        except OSError as e:  # not listening yet
            last = e
        time.sleep(0.5)
    raise AssertionError("timed out waiting for %s (last: %s)" % (what, last))


def main():
    if not os.access(PROMETHEUS, os.X_OK):
        skip(PROMETHEUS + " is missing: install prometheus (scripts/install-deps.sh)")
    work = tempfile.mkdtemp(prefix="demodmon-prometheus-")
    fixture = Fixture("--interval-ms", "200", "--phase", "5", "--seconds", "90")
    prometheus = None
    try:
        config = os.path.join(work, "prometheus.yml")
        with open(config, "w") as f:
            f.write(CONFIG % fixture.port)
        port = free_port()
        base = "http://127.0.0.1:%d" % port
        prometheus = subprocess.Popen(
            [PROMETHEUS, "--config.file=" + config,
             "--storage.tsdb.path=" + os.path.join(work, "data"),
             "--web.listen-address=127.0.0.1:%d" % port, "--log.level=warn"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # C/N is absent while a board is out of lock: the last value of the past minute.
        cn = poll("both boards' C/N", lambda: (lambda r: r if len(r) == 2 else None)(
            query(base, "last_over_time(demodmon_cn_db[1m])")))
        for board, (low, high) in CN_RANGE.items():
            assert low <= cn[board] <= high, "C/N of %s: %s" % (board, cn[board])
        losses = poll("a lock loss of each board", lambda: (
            lambda r: r if len(r) == 2 and min(r.values()) >= 1 else None)(
            query(base, "demodmon_lock_losses_total")))
        assert set(losses) == {"a", "b"}, losses
    finally:
        if prometheus:
            prometheus.terminate()
            try:
                prometheus.wait(timeout=10)
            except subprocess.TimeoutExpired:
                prometheus.kill()
                prometheus.wait()
        fixture.stop()
        shutil.rmtree(work, ignore_errors=True)
    print("Prometheus read both boards' C/N and lock losses")


if __name__ == "__main__":
    main()
