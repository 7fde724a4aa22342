#!/usr/bin/python3
"""The Python module against demodmon, in the same run on regservers with the simulated board:

- one sample (lock, the six measurements, the mode report) from Python, eight calls on an open
  Board, against demodmon's own sample (read_sample) on the same connection: their ratio;
- Python samples on four boards from four threads against one board from one thread: the
  ratio of their wall times (the GIL is let go during bus work). On the regservers every
  operation is processor work on both sides of the loopback, so on two cores four boards cannot
  take less than twice one's time, whatever the module does; the ratio that shows whether the
  threads run in parallel is taken on in-process simulated boards whose every bus operation takes
  1 ms, as a transfer on a real I2C bus takes wire time rather than processor time.

    PYTHONPATH=build/python bench/python_sample.py build/regserver
"""

import json
import os
import subprocess
import sys
import threading
import time

import demodctl

SAMPLES = 400
ROUNDS = 5  # the best of five of each, taken in turns, against a machine shared with builds
BOARDS = 4
# Every operation of the simulated board sleeps this long before it is done (an I2C transfer of a
# few bytes at 100 kHz is about 0.3 ms on the wire, the register server's round trip on top).
BUS_MS = 1
SLOW_SAMPLES = 10
SLOW_FAULTS = {"random": {"seed": 1, "stall_per_million": 1000000, "stall_ms": BUS_MS}}
LOCKED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scenarios",
                      "dvbs2_locked.json")


def start_regserver(binary):
    server = subprocess.Popen([binary, "--sim", "--port", "0", "--quiet"], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True)
    line = server.stdout.readline()
    if "listening on" not in line:
        server.kill()
        sys.exit(f"regserver did not start: {line!r}")
    return server, int(line.rsplit(":", 1)[1])


def python_samples(board, count):
    for _ in range(count):
        board.lock()
        board.strength_dbm()
        board.cn_db()
        board.ber()
        board.lock_time_ms()
        board.carrier_offset_hz()
        board.symbol_rate_offset_hz()
        board.mode()


def best_times(*runs):
    """The best wall time of each run, the runs taken in turns so that a burst of load on the
    machine falls on all of them alike."""
    best = [float("inf")] * len(runs)
    for _ in range(ROUNDS):
        for i, run in enumerate(runs):
            start = time.perf_counter()
            run()
            best[i] = min(best[i], time.perf_counter() - start)
    return best


def threaded(boards, count=SAMPLES):
    threads = [threading.Thread(target=python_samples, args=(b, count)) for b in boards]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def main():
    servers = [start_regserver(sys.argv[1]) for _ in range(BOARDS)]
    try:
        boards = [demodctl.Board(f"127.0.0.1:{port}/0@208") for _, port in servers]
        native, python = best_times(lambda: boards[0]._monitor_samples(SAMPLES),
                                    lambda: python_samples(boards[0], SAMPLES))
        one, four = best_times(lambda: threaded(boards[:1]), lambda: threaded(boards))
        with open(LOCKED, encoding="utf-8") as file:
            slow_bus = {**json.load(file), "faults": SLOW_FAULTS}
        slow = [demodctl.Board.sim(slow_bus) for _ in range(BOARDS)]
        slow_one, slow_four = best_times(lambda: threaded(slow[:1], SLOW_SAMPLES),
                                         lambda: threaded(slow, SLOW_SAMPLES))
    finally:
        for server, _ in servers:
            server.kill()
            server.wait()
    print(f"demodmon sample: {native / SAMPLES * 1e6:.0f} us; "
          f"Python sample: {python / SAMPLES * 1e6:.0f} us; ratio {python / native:.2f} "
          "(at most 1.2)")
    print(f"{BOARDS} boards from {BOARDS} threads on regservers: {four:.3f} s; one board: "
          f"{one:.3f} s; ratio {four / one:.2f} (processor-bound: at least 2 on two cores)")
    print(f"{BOARDS} boards from {BOARDS} threads, {BUS_MS} ms a bus operation: {slow_four:.3f} s;"
          f" one board: {slow_one:.3f} s; ratio {slow_four / slow_one:.2f} (at most 1.5)")


if __name__ == "__main__":
    main()
