"""The monitors the browser and Prometheus tests run against: the scripted one
(demodmon_web_fixture, see web_fixture_main.cpp) and the real demodmon on two regservers."""

import os
import select
import signal
import socket
import subprocess
import sys
import time

SKIP = 77  # ctest's SKIP_RETURN_CODE for these tests
START_BOUND_S = 10


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(SKIP)


def wait_for(what, check, bound_s, step_s=0.1):
    """check()'s first true value, asked again until bound_s has passed (an OSError: not yet)."""
    deadline = time.monotonic() + bound_s
    last = None
    while time.monotonic() < deadline:
        try:
            last = check()
            if last:
                return last
        except OSError as e:  # not listening yet
            last = e
        time.sleep(step_s)
    raise AssertionError("timed out waiting for %s (last: %s)" % (what, last))


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


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Monitor:
    """The programs of one monitor, stopped in reverse order; its web side is at `origin`."""

    def __init__(self, real, *extra, scenario=None):
        self.procs = []
        try:
            if not real:  # boards "a" and "b" on the scripted feed
                self.port = int(self._start([os.environ["WEB_FIXTURE"]], "port ").split()[1])
            else:  # boards "a" and "b" that lose lock on scenarios/fading.json's script (or another)
                boards = []
                for name in ("a", "b"):
                    line = self._start([os.environ["REGSERVER_BIN"], "--sim", "--scenario",
                                        scenario or os.environ["FADING_SCENARIO"], "--port", "0",
                                        "--quiet"],
                                       "listening on ")
                    boards += ["--board", "%s=127.0.0.1:%s/0@208" % (name, line.rsplit(":", 1)[1])]
                self.port = free_port()
                self._start([os.environ["DEMODMON_BIN"], *boards, "--interval", "200",
                             "--http", "127.0.0.1:%d" % self.port, *extra])
                self._wait_listening(self.procs[-1])
        except BaseException:
            self.stop()
            raise
        self.origin = "http://127.0.0.1:%d" % self.port

    def _start(self, argv, prefix=None):
        """Starts a program; with `prefix`, its first line of output, which must start so."""
        proc = subprocess.Popen(argv, stdout=subprocess.PIPE if prefix else subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, text=True)
        self.procs.append(proc)
        if prefix is None:
            return None
        ready, _, _ = select.select([proc.stdout], [], [], START_BOUND_S)
        line = proc.stdout.readline().strip() if ready else ""
        if not line.startswith(prefix):
            raise RuntimeError("%s did not start: %r" % (argv[0], line))
        return line

    def _wait_listening(self, proc):
        """Until `proc` takes connections on the page's port (a slow start, such as a sanitizer
        build's, is not yet a refusal); fails at once if it has ended."""
        def listening():
            if proc.poll() is not None:
                raise AssertionError("demodmon ended (%s) before its page listened"
                                     % proc.returncode)
            with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                return True
        wait_for("demodmon's page to listen", listening, START_BOUND_S)

    def stop(self):
        for proc in reversed(self.procs):
            stop(proc)
