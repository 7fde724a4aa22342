"""tools/plot-capture on a capture of the simulated board, and on files that are not captures."""
import json
import os
import shutil
import subprocess
import tempfile
import unittest


PLOT = ["/usr/bin/python3", os.environ["PLOT_CAPTURE"]]


def run(argv, cwd, env=None):
    return subprocess.run(argv, cwd=cwd, env=env, capture_output=True, text=True, timeout=120)


class PlotCapture(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="demodctl-test-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def read(self, name, mode="rb"):
        with open(os.path.join(self.dir, name), mode) as f:
            return f.read()

    def test_picture_and_sigmf_of_a_simulated_capture(self):
        env = dict(os.environ, DEMODCTL_I2C_BUS="sim")
        capture = run([os.environ["DEMODCTL_BIN"], "100", "208", "0", "ad_smp", "0"], self.dir, env)
        self.assertEqual(capture.stdout, "error=ok,return=0")
        r = run(PLOT + ["qv_ad_smp", "-o", "c.png", "--sample-rate", "27.5e6", "--centre-freq",
                        "1.55e9", "--sigmf", "c"], self.dir)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertEqual(self.read("c.png")[:8], b"\x89PNG\r\n\x1a\n")
        meta = json.loads(self.read("c.sigmf-meta"))
        self.assertEqual(meta["global"]["core:datatype"], "ci16_le")
        self.assertEqual(meta["global"]["core:sample_rate"], 27.5e6)
        self.assertEqual(meta["captures"], [{"core:sample_start": 0, "core:frequency": 1.55e9}])
        data = self.read("c.sigmf-data")
        i, q = (int(v) for v in self.read("qv_ad_smp", "r").split("\n")[1].split(","))
        self.assertEqual(len(data), 8192)
        self.assertEqual(data[:4], i.to_bytes(2, "little", signed=True) +
                         q.to_bytes(2, "little", signed=True))

    def test_files_that_are_not_captures(self):
        good = "Column:2\n" + "1,2\n" * 2048
        cases = {
            "empty": ("", "line 1: expected the header"),
            "truncated": (good[:-500], "expected 2048 (truncated?)"),
            "text": (good.replace("1,2", "1,x", 1), "line 2: expected two integers"),
            "three": (good.replace("1,2", "1,2,3", 1), "line 2: expected two integers"),
            "binary": ("\xff\xfe", "cannot read"),
            "missing": (None, ""),
        }
        for name, (text, message) in cases.items():
            if text is not None:
                with open(os.path.join(self.dir, name), "w", encoding="latin-1") as f:
                    f.write(text)
            r = run(PLOT + [name], self.dir)
            self.assertEqual(r.returncode, 2, name)
            self.assertIn(message, r.stderr, name)
            self.assertNotIn("Traceback", r.stderr, name)


if __name__ == "__main__":
    unittest.main()
