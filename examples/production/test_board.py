"""Production plan of a demodulator board: identity, start-up, then on each of the
three transponders of the test dish lock within its limit, C/N, BER, strength and
MER within theirs.

    pytest examples/production --limits examples/production/limits.toml \\
        --board a=127.0.0.1:9000/0@208 --board b=127.0.0.1:9001/0@208 \\
        -n 2 --junitxml=report.xml

Each test tunes the board itself, so any test can run alone or on another worker.
"""

import time

import pytest

import demodctl

# The transponders of the test dish (scenarios/transponders.json simulates it): frequency in
# MHz and the standard it carries.
TRANSPONDERS = [(1550, "DVB-S2"), (1210, "DVB-S"), (1870, "DirecTV")]
BANDWIDTH_MHZ = 36
# How long a tune may take to FEC lock before the plan gives up waiting.
LOCK_WAIT_S = 5.0
LOCK_POLL_S = 0.01


@pytest.fixture(params=TRANSPONDERS, ids=lambda t: str(t[0]))
def tuned(request, board):
    """The board tuned to one transponder; the wall time to FEC lock in ms (None if
    it did not lock within LOCK_WAIT_S)."""
    freq_mhz, standard = request.param
    board.tune(freq_mhz, BANDWIDTH_MHZ)
    start = time.monotonic()
    while not board.lock().fec:
        if time.monotonic() - start > LOCK_WAIT_S:
            return board, standard, None
        time.sleep(LOCK_POLL_S)
    return board, standard, round((time.monotonic() - start) * 1000.0, 1)


def test_identity(board):
    assert demodctl.chip_present(board.identity()), f"no chip: {board.identity().hex(' ')}"


def test_init(board):
    board.init()


def test_lock(tuned, measure):
    board, standard, waited_ms = tuned
    measure("lock_wait_ms", waited_ms)
    measure("lock_time_ms", board.lock_time_ms())
    assert board.mode().standard == standard


def test_cn(tuned, measure):
    measure("cn_db", tuned[0].cn_db())


def test_ber(tuned, measure):
    measure("ber", tuned[0].ber())


def test_strength(tuned, measure):
    measure("strength_dbm", tuned[0].strength_dbm())


def test_mer(tuned, measure):
    _, mer_db = tuned[0].capture()
    measure("mer_db", mer_db)
