// One sample of a board on its open connection: the lock flags, the six measurements and the mode
// report, each register read once, with the figures they give and the register bytes the JSON
// line shows. It only reads.
#pragma once

#include "bus/board_bus.h"
#include "monitor/monitor_feed.h"

namespace demodctl::monitor {

// Fills the sample's figures, registers and `connected` (false with `failure` when a read was
// refused; nothing is read after it). board, time and index are the caller's.
void read_sample(BoardBus& bus, BoardSample& sample);

}  // namespace demodctl::monitor
