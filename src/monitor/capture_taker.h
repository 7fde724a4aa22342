// A capture of a board on its open connection, with the constellation's MER and, given a
// directory, its SigMF recording. The only writes the monitor makes to a board are the capture
// unit's.
#pragma once

#include <string>

#include "bus/board_bus.h"
#include "monitor/monitor_feed.h"

namespace demodctl::monitor {

// Runs the capture (9-bit samples), fetches and decodes it; the MER is computed with FEC lock,
// against the constellation of the mode in `context` (the board's latest sample). With a non-empty
// `dir` the recording is written there as BOARD-YYYYMMDDTHHMMSSmmmZ. A fault, its cause one line
// saying why as the monitor reports it, when the capture failed: a transfer refused or a flag that
// did not come (the transfer's kind), or the recording not written (FaultKind::file; nothing of
// it is then left in `dir`).
Result<CaptureRecord> take_capture(BoardBus& bus, const BoardSample& context,
                                   const std::string& dir);

}  // namespace demodctl::monitor
