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


class Fixture:
    def __init__(self, *args):
        program = os.environ.get("WEB_FIXTURE", "")
        if not os.access(program, os.X_OK):
            raise RuntimeError("WEB_FIXTURE names no program: " + repr(program))
        self.proc = subprocess.Popen([program, *args], stdout=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.proc.stdout], [], [], START_BOUND_S)
        line = self.proc.stdout.readline() if ready else ""
        if not line.startswith("port "):
            self.stop()
            raise RuntimeError("the fixture did not start: " + repr(line))
        self.port = int(line.split()[1])
        self.origin = "http://127.0.0.1:%d" % self.port

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
