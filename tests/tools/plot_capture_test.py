"""tools/plot-capture on a capture of the simulated board, and on files that are not captures."""
import json
import os
import subprocess
import tempfile
import unittest

TOOL = os.environ["PLOT_CAPTURE"]
DEMODCTL = os.environ["DEMODCTL_BIN"]


def run(args, cwd):
    return subprocess.run(["/usr/bin/python3", TOOL] + args, cwd=cwd, capture_output=True,
                          text=True, timeout=120)


class PlotCapture(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()

    def test_picture_and_sigmf_of_a_simulated_capture(self):
        capture = subprocess.run([DEMODCTL, "100", "208", "0", "ad_smp", "0"], cwd=self.dir,
                                 env=dict(os.environ, DEMODCTL_I2C_BUS="sim"),
                                 capture_output=True, text=True, timeout=60)
        self.assertEqual(capture.stdout, "error=ok,return=0")
        r = run(["qv_ad_smp", "-o", "c.png", "--sample-rate", "27.5e6", "--centre-freq", "1.55e9",
                 "--sigmf", "c"], self.dir)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        with open(os.path.join(self.dir, "c.png"), "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        with open(os.path.join(self.dir, "c.sigmf-meta"), encoding="utf-8") as f:
            meta = json.load(f)
        self.assertEqual(meta["global"]["core:datatype"], "ci16_le")
        self.assertEqual(meta["global"]["core:sample_rate"], 27.5e6)
        self.assertEqual(meta["captures"], [{"core:sample_start": 0, "core:frequency": 1.55e9}])
        with open(os.path.join(self.dir, "c.sigmf-data"), "rb") as f:
            data = f.read()
        with open(os.path.join(self.dir, "qv_ad_smp"), encoding="ascii") as f:
            first = f.read().split("\n")[1]
        self.assertEqual(len(data), 8192)
        i, q = (int(v) for v in first.split(","))
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
        }
        for name, (text, message) in cases.items():
            with open(os.path.join(self.dir, name), "w", encoding="latin-1") as f:
                f.write(text)
            r = run([name], self.dir)
            self.assertEqual(r.returncode, 2, name)
            self.assertIn(message, r.stderr, name)
            self.assertNotIn("Traceback", r.stderr, name)
        self.assertEqual(run(["missing"], self.dir).returncode, 2)


if __name__ == "__main__":
    unittest.main()
