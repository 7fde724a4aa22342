"""pytest plugin: boards, limits and measurement reports for production tests.

    pytest tests/ --board a=127.0.0.1:9000/0@208 --board b=usb:sim@208 \\
        --limits limits.toml --junitxml=report.xml --measure-json=measures.json -n 2

``board`` runs a test once per ``--board`` (one connection per board for the
session; with pytest-xdist each board's tests go to one worker); ``sim_board``
makes simulated boards from scenarios; ``measure(name, value)`` checks a value
against its limits in the ``--limits`` file, records it in the JUnit report (as
properties) and in the JSON report, and fails naming the limit and the value.
A failed test that used a board shows that board's last bus operations.

The limits file (TOML), one table per measurement:

    [cn_db]
    low = 6.0
    unit = "dB"
"""

import json
import math
import tomllib

import pytest

import demodctl

# Bus operations shown with a failure, the latest last.
TRACE_LINES_SHOWN = 20


def pytest_addoption(parser):
    group = parser.getgroup("demodctl", "demodctl boards")
    group.addoption("--board", action="append", default=[], metavar="NAME=URI",
                    help="a board to test (repeatable): NAME=HOST:PORT/CH@ADDR[,SPEED] "
                         "or NAME=usb:BUS@ADDR (BUS: sim, sim:SCENARIO.json, /dev/i2c-N)")
    group.addoption("--limits", metavar="FILE",
                    help="the measurements' limits (TOML: per measurement low, high, unit)")
    group.addoption("--measure-json", metavar="FILE",
                    help="write every measurement with its limits and verdict to FILE (JSON)")


def _boards(config):
    boards = {}
    for text in config.getoption("board"):
        name, sep, uri = text.partition("=")
        if not sep or not name or not uri:
            raise pytest.UsageError(f"--board {text}: expected NAME=URI")
        if name in boards:
            raise pytest.UsageError(f"--board {name} given twice")
        boards[name] = uri
    return boards


def _limits(config):
    path = config.getoption("limits")
    if not path:
        return {}
    try:
        with open(path, "rb") as file:
            limits = tomllib.load(file)
    except (OSError, tomllib.TOMLDecodeError) as error:
        raise pytest.UsageError(f"--limits {path}: {error}") from error
    for name, limit in limits.items():
        if not isinstance(limit, dict) or not {"low", "high"} & limit.keys():
            raise pytest.UsageError(f"--limits {path}: [{name}] needs a low or a high limit")
    return limits


@pytest.hookimpl(tryfirst=True)
def pytest_configure(config):
    config._demodctl_boards = _boards(config)
    config._demodctl_limits = _limits(config)
    path = config.getoption("measure_json")
    if path and not hasattr(config, "workerinput"):  # the controller writes the report
        config.pluginmanager.register(_MeasureJson(path), "demodctl-measure-json")
    # Under pytest-xdist each board's tests stay on one worker, so a board has one connection
    # and the boards run in parallel.
    if getattr(config.option, "dist", "no") == "load" and config._demodctl_boards:
        config.option.dist = "loadgroup"


def pytest_generate_tests(metafunc):
    if "board" in metafunc.fixturenames:
        names = list(metafunc.config._demodctl_boards)
        metafunc.parametrize("board", names, indirect=True, scope="session")


def pytest_collection_modifyitems(items):
    for item in items:
        callspec = getattr(item, "callspec", None)
        if callspec is not None and "board" in callspec.params:
            item.add_marker(pytest.mark.xdist_group(f"board-{callspec.params['board']}"))


@pytest.fixture(scope="session")
def board(request):
    """The board named by ``--board NAME=URI``, open for the whole session."""
    if not hasattr(request, "param"):
        pytest.skip("no --board given")
    opened = demodctl.Board(request.config._demodctl_boards[request.param])
    opened.name = request.param
    yield opened
    opened.close()


@pytest.fixture
def sim_board():
    """Makes simulated boards: ``sim_board(scenario)`` with a scenario dict, a scenario
    file's path, or nothing for the default board; each is closed after the test."""
    made = []

    def make(scenario=None):
        made.append(demodctl.Board.sim(scenario))
        return made[-1]

    yield make
    for opened in made:
        opened.close()


def _verdict(value, limit):
    """None when the value is within the limit, else why not."""
    unit = f" {limit['unit']}" if "unit" in limit else ""
    if value is None:
        return "the chip gave no figure (None)"
    if isinstance(value, float) and math.isnan(value):
        return "the figure is not a number"
    if "low" in limit and value < limit["low"]:
        return f"{value}{unit} is below the low limit {limit['low']}{unit}"
    if "high" in limit and value > limit["high"]:
        return f"{value}{unit} is above the high limit {limit['high']}{unit}"
    return None


@pytest.fixture
def measure(request, record_property):
    """``measure(name, value)``: checks value against the limits of ``name``, records it
    (name, value, unit, limits) in the JUnit and JSON reports, and fails naming the limit
    and the value. A name without limits is recorded only."""
    limits = request.config._demodctl_limits

    def check(name, value):
        limit = limits.get(name, {})
        record_property(name, value)
        for key in ("unit", "low", "high"):
            if key in limit:
                record_property(f"{name}.{key}", limit[key])
        problem = _verdict(value, limit) if limit else None
        record_property(f"{name}.verdict", "fail" if problem else "pass")
        if problem:
            pytest.fail(f"{name}: {problem}", pytrace=False)
        return value

    return check


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    if not report.failed:
        return
    for value in getattr(item, "funcargs", {}).values():
        if isinstance(value, demodctl.Board):
            lines = value.trace()[-TRACE_LINES_SHOWN:]
            title = f"bus trace of {getattr(value, 'name', value.uri)}"
            if hasattr(report.longrepr, "addsection"):
                report.longrepr.addsection(title, "\n".join(lines))


class _MeasureJson:
    """Collects every test's measurements from its report (with pytest-xdist, the
    controller's copy of the workers' reports) and writes them as one JSON list."""

    def __init__(self, path):
        self.path = path
        self.records = []

    def pytest_runtest_logreport(self, report):
        if report.when != "call":
            return
        props = dict(report.user_properties)
        for name, value in report.user_properties:
            if "." in name:
                continue
            record = {"test": report.nodeid, "name": name, "value": value}
            for key in ("unit", "low", "high", "verdict"):
                if f"{name}.{key}" in props:
                    record[key] = props[f"{name}.{key}"]
            self.records.append(record)

    def pytest_sessionfinish(self, session):
        with open(self.path, "w", encoding="utf-8") as file:
            json.dump(self.records, file, indent=1)
            file.write("\n")
