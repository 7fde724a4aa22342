"""tools/plot-capture on a capture of the simulated board, and on files that are not captures."""
import datetime
import importlib.machinery
import importlib.util
import json
import os
import shutil
import subprocess
import tempfile
import unittest


PLOT = ["/usr/bin/python3", os.environ["PLOT_CAPTURE"]]


def run(argv, cwd, env=None):
    return subprocess.run(argv, cwd=cwd, env=env, capture_output=True, text=True, timeout=120)


def load_tool():
    loader = importlib.machinery.SourceFileLoader("plot_capture", os.environ["PLOT_CAPTURE"])
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    return module


class PlotCapture(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="demodctl-test-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def read(self, name, mode="rb"):
        with open(os.path.join(self.dir, name), mode) as f:
            return f.read()

    def capture(self, mode):
        env = dict(os.environ, DEMODCTL_I2C_BUS="sim")
        r = run([os.environ["DEMODCTL_BIN"], "100", "208", mode, "ad_smp", "0"], self.dir, env)
        self.assertEqual(r.stdout, "error=ok,return=0")

    def test_picture_and_sigmf_of_a_simulated_capture(self):
        self.capture("0")
        r = run(PLOT + ["qv_ad_smp", "-o", "c.png", "--sample-rate", "27.5e6", "--tuned-mhz",
                        "1550", "--mode", "9", "--sigmf", "c"], self.dir)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertEqual(self.read("c.png")[:8], b"\x89PNG\r\n\x1a\n")
        meta = json.loads(self.read("c.sigmf-meta"))
        self.assertEqual(meta["global"]["core:datatype"], "ci16_le")
        self.assertEqual(meta["global"]["core:sample_rate"], 27.5e6)
        self.assertEqual(meta["global"]["core:hw"], "demodctl capture unit (2048 pairs)")
        self.assertEqual(meta["global"]["demodctl:sample_bits"], 9)
        mtime = os.stat(os.path.join(self.dir, "qv_ad_smp")).st_mtime
        stamp = datetime.datetime.fromtimestamp(mtime, datetime.timezone.utc)
        self.assertEqual(meta["captures"], [{"core:sample_start": 0, "core:frequency": 1.55e9,
                                             "core:datetime": stamp.strftime(
                                                 "%Y-%m-%dT%H:%M:%S.%fZ")}])
        data = self.read("c.sigmf-data")
        i, q = (int(v) for v in self.read("qv_ad_smp", "r").split("\n")[1].split(","))
        self.assertEqual(len(data), 8192)
        self.assertEqual(data[:4], i.to_bytes(2, "little", signed=True) +
                         q.to_bytes(2, "little", signed=True))

    def test_options_and_failures_leave_no_files(self):
        self.capture("1")  # 8-bit samples
        with open(os.path.join(self.dir, "nine"), "w", encoding="ascii") as f:
            f.write("Column:2\n" + "200,-256\n" * 2048)
        cases = {  # arguments: (status, message on standard error); failures first: no PNG yet
            ("--mode", "8", "--sigmf", "t", "-o", "none/c.png"): (2, "none/c.png"),
            ("nine", "--mode", "8"): (2, "line 2: sample outside the 8-bit range -128..127"),
            ("--mode", "7"): (2, "invalid choice"),
            ("--window", "0"): (2, "--window must be 1..2048"),
            ("--start", "2048"): (2, "--start must be 0..2047"),
            ("--tuned-mhz", "1550", "--centre-freq", "1e9"): (2, "not allowed with"),
            ("--mode", "8", "--start", "2000", "--window", "48", "--sigmf", "s"): (0, ""),
        }
        for argv, (status, message) in cases.items():
            before = sorted(os.listdir(self.dir))
            r = run(PLOT + list(argv), self.dir)
            self.assertEqual(r.returncode, status, argv)
            self.assertIn(message, r.stderr, argv)
            self.assertNotIn("Traceback", r.stderr, argv)
            if status != 0:
                self.assertEqual(sorted(os.listdir(self.dir)), before, argv)
        self.assertEqual(self.read("qv_ad_smp.png")[:4], b"\x89PNG")
        self.assertEqual(json.loads(self.read("s.sigmf-meta"))["global"]["demodctl:sample_bits"], 8)

    def test_spectrum_in_dbfs(self):
        import numpy as np

        tool = load_tool()
        tone = np.exp(2j * np.pi * 8 / tool.SPECTRUM_SEGMENT * np.arange(2048))
        for mode, full_scale in ((9, 255), (8, 127)):
            db = tool.welch_dbfs(full_scale * tone, tool.FULL_SCALE[mode])
            self.assertAlmostEqual(float(db.max()), 0.0, places=6)
        self.assertLess(float(tool.welch_dbfs(np.zeros(2048), 255).max()), tool.DBFS_RANGE[0])

    def test_files_that_are_not_captures(self):
        good = "Column:2\n" + "1,2\n" * 2048
        cases = {
            "empty": ("", "line 1: expected the header"),
            "truncated": (good[:-500], "expected 2048 (truncated?)"),
            "text": (good.replace("1,2", "1,x", 1), "line 2: expected two integers"),
            "three": (good.replace("1,2", "1,2,3", 1), "line 2: expected two integers"),
            "binary": ("\xff\xfe", "cannot read"),
        }
        for name, (text, message) in cases.items():
            with open(os.path.join(self.dir, name), "w", encoding="latin-1") as f:
                f.write(text)
            r = run(PLOT + [name], self.dir)
            self.assertEqual(r.returncode, 2, name)
            self.assertIn(message, r.stderr, name)
            self.assertNotIn("Traceback", r.stderr, name)


if __name__ == "__main__":
    unittest.main()
