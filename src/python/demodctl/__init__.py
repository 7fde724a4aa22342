"""demodctl: satellite demodulator boards from Python.

    import demodctl
    with demodctl.Board("127.0.0.1:9000/0@0xD0") as board:
        if board.lock().fec:
            print(board.cn_db(), board.mode().text)

    with demodctl.Board.sim({"demod": {"identity": "01 00 36 31"}}) as board:
        samples, mer_db = board.capture()

Boards are named as demodmon names them: ``HOST:PORT/CHANNEL@ADDRESS[,SPEED]`` (a
register server) or ``usb:BUS@ADDRESS`` (the USB bridge; BUS ``sim`` or
``sim:SCENARIO.json`` is the simulated board, in-process). A figure the chip
cannot give (no lock, no estimate yet) is None. Failures raise DemodctlError
subclasses carrying the core's cause.
"""

import json
import os
import tempfile

from demodctl._core import Lock, Mode, chip_present, register_names
from demodctl._core import _Board
from demodctl._errors import (BoardTimeoutError, ChipAbsentError, DemodctlError,
                              NoConnectionError, ReadOnlyError, RefusedError)

__all__ = ["Board", "Lock", "Mode", "chip_present", "register_names", "DemodctlError", "NoConnectionError",
           "ChipAbsentError", "BoardTimeoutError", "RefusedError", "ReadOnlyError",
           "TUNERS", "SIM_ADDRESS"]

# tune()'s tuner names and the driver numbers demodctl tuner_set takes.
TUNERS = {"type0": 0, "rda5815": 1}
# The demodulator's address on the simulated board.
SIM_ADDRESS = 0xD0


class Board(_Board):
    """One board, one connection: opened when the Board is made, kept open until
    close() or the end of its ``with`` block. Methods do their bus work with the
    GIL released; one Board may be shared between threads (its calls take turns)."""

    def __init__(self, uri):
        super().__init__(uri)
        self.open()

    @classmethod
    def sim(cls, scenario=None, address=SIM_ADDRESS):
        """The simulated board, in-process: ``scenario`` is a dict (a scenario as
        docs/simulator.md describes it), the path of a scenario file, or None for
        the default board (a chip locked on DVB-S2 8PSK 3/4)."""
        if scenario is None:
            return cls(f"usb:sim@{address}")
        if not isinstance(scenario, dict):
            return cls(f"usb:sim:{os.fspath(scenario)}@{address}")
        # The board reads its scenario once, when it opens: the file is gone after that.
        with tempfile.TemporaryDirectory(prefix="demodctl-sim-") as folder:
            path = os.path.join(folder, "scenario.json")
            with open(path, "x", encoding="utf-8") as file:
                json.dump(scenario, file)
            return cls(f"usb:sim:{path}@{address}")

    def tune(self, freq_mhz, bw_mhz, tuner="rda5815", address=0xC0, channel=0):
        """Programs the tuner behind the demodulator (after the identity check) as
        demodctl tuner_set does: ``tuner`` is "rda5815" or "type0", ``address`` its
        8-bit address, ``channel`` its register-server channel."""
        if tuner not in TUNERS:
            raise ValueError(f"tuner must be one of {sorted(TUNERS)}")
        self._tune(int(freq_mhz), int(bw_mhz), TUNERS[tuner], int(address), int(channel))

    def __enter__(self):
        """Opens the connection if close() closed it."""
        self.open()
        return self

    def __exit__(self, *exc):
        """Closes the connection."""
        self.close()
        return False

    def __repr__(self):
        return f"demodctl.Board({self.uri!r})"
