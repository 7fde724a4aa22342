"""The scripted monitor (demodmon_web_fixture) that the browser and Prometheus tests run against.

Boards "a" and "b"; sample i of a board is locked (lock status 0x3F) when ((i - 1) // phase) is
even, else CR and FEC are dropped (0x0F)."""

import os
import select
import signal
import socket
import subprocess
import sys

SKIP = 77  # ctest's SKIP_RETURN_CODE for these tests
START_BOUND_S = 10


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(SKIP)


def locked(index, phase):
    return ((index - 1) // phase) % 2 == 0


def stop(proc):
    """SIGTERM, then SIGKILL when it has not ended within 10 s."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    if proc.stdout:
        proc.stdout.close()


def first_line(proc, prefix):
    """The program's first line of output, which must start with `prefix` (bounded wait)."""
    ready, _, _ = select.select([proc.stdout], [], [], START_BOUND_S)
    line = proc.stdout.readline().strip() if ready else ""
    if not line.startswith(prefix):
        stop(proc)
        raise RuntimeError("%s did not start: %r" % (proc.args[0], line))
    return line


class Fixture:
    def __init__(self, *args):
        program = os.environ.get("WEB_FIXTURE", "")
        if not os.access(program, os.X_OK):
            raise RuntimeError("WEB_FIXTURE names no program: " + repr(program))
        self.proc = subprocess.Popen([program, *args], stdout=subprocess.PIPE, text=True)
        self.port = int(first_line(self.proc, "port ").split()[1])
        self.origin = "http://127.0.0.1:%d" % self.port

    def stop(self):
        stop(self.proc)


class RealMonitor:
    """demodmon itself on two regservers whose simulated boards lose lock on a script
    (scenarios/fading.json): boards "a" and "b", served on the web at `http_port`."""

    def __init__(self, http_port, interval_ms, *extra):
        regserver, demodmon = os.environ.get("REGSERVER_BIN", ""), os.environ.get("DEMODMON_BIN", "")
        scenario = os.environ.get("FADING_SCENARIO", "")
        self.procs = []
        boards = []
        try:
            for name in ("a", "b"):
                server = self._start([regserver, "--sim", "--scenario", scenario, "--port", "0",
                                      "--quiet"], subprocess.PIPE)
                port = first_line(server, "listening on ").rsplit(":", 1)[1]
                boards += ["--board", "%s=127.0.0.1:%s/0@208" % (name, port)]
        except RuntimeError:
            self.stop()
            raise
        self._start([demodmon, *boards, "--interval", str(interval_ms),
                     "--http", "127.0.0.1:%d" % http_port, *extra], subprocess.DEVNULL)
        self.port = http_port
        self.origin = "http://127.0.0.1:%d" % http_port

    def _start(self, argv, stdout):
        self.procs.append(subprocess.Popen(argv, stdout=stdout, stderr=subprocess.DEVNULL,
                                           text=True))
        return self.procs[-1]

    def stop(self):
        for proc in reversed(self.procs):
            stop(proc)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
