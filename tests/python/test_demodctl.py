"""The Python module and its pytest plugin on simulated boards: the production plan with one board
out of a limit (its JUnit report), the exceptions and None against the core's causes, and the
capture against demodctl ad_smp's sample file."""

import json
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path

import numpy as np
import pytest

import demodctl

SCENARIOS = os.environ["SCENARIO_DIR"]
PLAN = os.environ["PRODUCTION_PLAN"]


@pytest.fixture(name="tmp_path")
def removed_tmp_path():
    """A directory removed after the test (pytest's own are kept for later runs)."""
    with tempfile.TemporaryDirectory() as folder:
        yield Path(folder)


def sim_uri(path):
    return f"usb:sim:{path}@{demodctl.SIM_ADDRESS}"


def test_plan_fails_exactly_the_board_out_of_its_limit(tmp_path):
    dish = json.load(open(os.path.join(SCENARIOS, "transponders.json"), encoding="utf-8"))
    dish["transponders"][1]["power_dbm"] = -75  # 1210 MHz, below the plan's -70 dBm
    weak = tmp_path / "weak.json"
    weak.write_text(json.dumps(dish), encoding="utf-8")
    report, measures = tmp_path / "report.xml", tmp_path / "measures.json"
    run = subprocess.run(
        [sys.executable, "-m", "pytest", PLAN, "-p", "demodctl.pytest_plugin", "-p",
         "no:cacheprovider", "--limits", os.path.join(PLAN, "limits.toml"),
         "--board", "a=" + sim_uri(os.path.join(SCENARIOS, "transponders.json")),
         "--board", "b=" + sim_uri(weak), "-n", "2", f"--junitxml={report}",
         f"--measure-json={measures}", f"--basetemp={tmp_path / 'pytest'}"],
        capture_output=True, text=True, timeout=300, check=False)
    assert run.returncode == 1, run.stdout + run.stderr

    cases = {case.get("name"): case for case in ET.parse(report).iter("testcase")}
    failed = [name for name, case in cases.items() if case.find("failure") is not None]
    assert failed == ["test_strength[1210-b]"]
    assert len(cases) == 2 * (2 + 5 * 3)  # identity, init; five checks on three transponders
    failure = cases["test_strength[1210-b]"].find("failure")
    assert failure.get("message").startswith(
        "strength_dbm: -75.0 dBm is below the low limit -70.0 dBm")
    assert "bus trace of b" in failure.text and "read 0xD0 register 0x37" in failure.text
    props = {p.get("name"): p.get("value")
             for p in cases["test_strength[1210-b]"].iter("property")}
    assert props == {"strength_dbm": "-75.0", "strength_dbm.unit": "dBm",
                     "strength_dbm.low": "-70.0", "strength_dbm.high": "-30.0",
                     "strength_dbm.verdict": "fail"}
    lock = {p.get("name"): p.get("value") for p in cases["test_lock[1870-a]"].iter("property")}
    assert lock["lock_time_ms"] == "420" and lock["lock_time_ms.verdict"] == "pass"
    records = json.loads(measures.read_text(encoding="utf-8"))
    cn = [r for r in records if r["test"].endswith("test_board.py::test_cn[1550-a]")]
    assert [{**r, "test": ""} for r in cn] == [
        {"test": "", "name": "cn_db", "value": 9.500744, "unit": "dB", "low": 5.0,
         "verdict": "pass"}]


@pytest.mark.parametrize("scenario, call, error, kind, cause", [
    ("no_chip.json", lambda b: b.init(), demodctl.ChipAbsentError, "chip absent", ""),
    ({"faults": {"fail_registers": [{"register": "0x7F"}]}}, lambda b: b.cn_db(),
     demodctl.NoConnectionError, "bus failure", "read 0xD0 register 0x7F: device 0xD0: "
     "register fails (scenario)"),
    ({"faults": {"stuck_low": [{"register": "0x38", "mask": "0x80"}]}},
     lambda b: b.strength_dbm(), demodctl.BoardTimeoutError, "timeout",
     "register 0x37 not ready after 3000 ms"),
])
def test_failures_carry_the_core_fault(scenario, call, error, kind, cause):
    if isinstance(scenario, str):
        scenario = os.path.join(SCENARIOS, scenario)
    with demodctl.Board.sim(scenario) as board, pytest.raises(error) as raised:
        call(board)
    assert (raised.value.kind, raised.value.cause) == (kind, cause)


def test_register_server_refusals():
    # A read-only server's refusal is its own kind, with the server and the transfer in its cause.
    server = subprocess.Popen([os.environ["REGSERVER_BIN"], "--sim", "--read-only", "--port", "0",
                               "--quiet"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True)
    try:
        port = server.stdout.readline().rsplit(":", 1)[1].strip()
        with demodctl.Board(f"127.0.0.1:{port}/0@208") as board:
            assert board.read_register("lock_fec") == 1
            with pytest.raises(demodctl.ReadOnlyError) as raised:
                board.write_register(0x2E, 1)
            assert raised.value.cause == (f"register server 127.0.0.1 port {port}: "
                                          "WRITE 0xD0 register 0x2E on channel 0: READ_ONLY")
    finally:
        server.kill()
        server.wait()
    with demodctl.Board(f"127.0.0.1:{port}/0@208") as board, \
            pytest.raises(demodctl.NoConnectionError) as raised:
        board.lock()
    assert raised.value.cause == (f"register server 127.0.0.1 port {port}: "
                                  "READ 0xD0 register 0x2C on channel 0: NOT_CONNECTED")


def test_no_figure_without_lock():
    with demodctl.Board.sim(os.path.join(SCENARIOS, "no_signal.json")) as board:
        figures = [board.cn_db(), board.ber(), board.lock_time_ms(), board.carrier_offset_hz(),
                   board.symbol_rate_offset_hz(), board.mode().standard, board.capture()[1]]
    assert figures == [None] * len(figures)


def test_capture_matches_ad_smp(tmp_path):
    scenario = os.path.join(SCENARIOS, "dvbs2_locked.json")
    subprocess.run([os.environ["DEMODCTL_BIN"], "100", "208", "0", "ad_smp", "0"], cwd=tmp_path,
                   env={**os.environ, "DEMODCTL_I2C_BUS": "sim:" + scenario}, check=True,
                   capture_output=True, timeout=60)
    expected = np.loadtxt(tmp_path / "qv_ad_smp", delimiter=",", skiprows=1, dtype=np.int32)
    with demodctl.Board.sim(scenario) as board:
        samples, mer_db = board.capture()
    assert samples.shape == (2048, 2)
    np.testing.assert_array_equal(samples, expected)
    assert mer_db > 0
