"""The exceptions a board raises: one hierarchy, each carrying the fault the core gave."""


class DemodctlError(Exception):
    """A bus operation failed. ``kind`` names the fault ("no connection", "NACK",
    "timeout", "refused", "read-only", "chip absent", ...); ``cause`` is the core's
    one-line account of it ("read 0xD0 register 0x2C on channel 2"), empty when
    nothing more than the kind is known."""

    def __init__(self, message, kind="", cause=""):
        super().__init__(message)
        self.kind = kind
        self.cause = cause


class NoConnectionError(DemodctlError, ConnectionError):
    """The register server or the bridge refused a transfer, the device did not
    acknowledge, or the bus could not be opened."""


class ChipAbsentError(DemodctlError):
    """The identity check found no demodulator."""


class BoardTimeoutError(DemodctlError, TimeoutError):
    """A status flag of the chip did not come within its bound."""


class RefusedError(DemodctlError):
    """The register server answered with an error status (named in ``cause``)."""


class ReadOnlyError(RefusedError):
    """The register server is read-only and refused a write."""
