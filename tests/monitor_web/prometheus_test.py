#!/usr/bin/env python3
"""demodmon's /metrics, from two boards on two regservers, scraped by a real Prometheus every
second with the shipped alert rules: a PromQL query returns both boards' C/N and their lock-loss
counts, and the lock-lost alert fires for both once they lose lock. promtool accepts the rules."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_fixture import Monitor, free_port, skip, stop, wait_for  # noqa: E402

PROMETHEUS = "/usr/bin/prometheus"
PROMTOOL = "/usr/bin/promtool"
RULES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "dist", "prometheus",
                     "demodmon-alerts.yml")
# Each board holds lock for 75 samples (one read of 0x2C each, 15 s at 200 ms) for the C/N query,
# then loses carrier recovery and FEC for good.
SCENARIO = json.dumps({"signal": {}, "lock_timeline": [{"reads": 75, "lock": "0x3F"},
                                                       {"reads": 1000000, "lock": "0x0F"}]})
WAIT_S = 40  # bound on Prometheus starting and holding the first answers
POLL_S = 0.5
BOARDS = {"a", "b"}
CN_RANGE = (8.5, 10.5)  # the simulated board's C/N is 9.5 dB

CONFIG = """global:
  scrape_interval: 1s
  evaluation_interval: 1s
rule_files: ['%s']
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


def main():
    for path in (PROMETHEUS, PROMTOOL):
        if not os.access(path, os.X_OK):
            skip(path + " is missing: install prometheus (scripts/install-deps.sh)")
    work = tempfile.mkdtemp(prefix="demodmon-prometheus-")
    fixture = None
    prometheus = None
    try:
        scenario = os.path.join(work, "loses-lock.json")
        with open(scenario, "w") as f:
            f.write(SCENARIO)
        # The shipped rules, with every `for:` shortened to a second in the test's copy.
        rules = os.path.join(work, "alerts.yml")
        with open(RULES) as shipped, open(rules, "w") as f:
            f.write(re.sub(r"for: \S+", "for: 1s", shipped.read()))
        for path in (RULES, rules):
            subprocess.run([PROMTOOL, "check", "rules", path], check=True, timeout=WAIT_S,
                           stdout=subprocess.DEVNULL)
        fixture = Monitor(True, scenario=scenario)
        config = os.path.join(work, "prometheus.yml")
        with open(config, "w") as f:
            f.write(CONFIG % (rules, fixture.port))
        port = free_port()
        base = "http://127.0.0.1:%d" % port
        prometheus = subprocess.Popen(
            [PROMETHEUS, "--config.file=" + config,
             "--storage.tsdb.path=" + os.path.join(work, "data"),
             "--web.listen-address=127.0.0.1:%d" % port, "--log.level=warn"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # C/N is absent while a board is out of lock: the last value of the past minute.
        cn = wait_for("both boards' C/N", lambda: (lambda r: r if set(r) == BOARDS else None)(
            query(base, "last_over_time(demodmon_cn_db[1m])")), WAIT_S, POLL_S)
        assert all(CN_RANGE[0] <= v <= CN_RANGE[1] for v in cn.values()), "C/N: %s" % cn
        wait_for("a lock loss of each board", lambda: (
            lambda r: r if set(r) == BOARDS and min(r.values()) >= 1 else None)(
            query(base, "demodmon_lock_losses_total")), WAIT_S, POLL_S)
        wait_for("the lock-lost alert of each board", lambda: set(query(
            base, 'ALERTS{alertname="DemodmonLockLost",alertstate="firing"}')) == BOARDS,
            WAIT_S, POLL_S)
    finally:
        if prometheus:
            stop(prometheus)
        if fixture:
            fixture.stop()
        shutil.rmtree(work, ignore_errors=True)
    print("Prometheus read both boards' C/N and lock losses and fired their lock-lost alerts")


if __name__ == "__main__":
    main()
