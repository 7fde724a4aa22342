// One sample of a board on its open connection: the lock flags, the six measurements and the mode
// report, with the register bytes each was computed from. It only reads.
#pragma once

#include <cstdint>
#include <optional>

#include "bus/transport.h"
#include "monitor/monitor_feed.h"

namespace demodctl::monitor {

// Fills the sample's readings, registers and `connected` (false with `failure` when a read was
// refused; nothing is read after it). board, time and index are the caller's.
void read_sample(Transport& bus, BoardSample& sample);

// The bytes of register `reg` recorded in the sample (first byte), if it was read.
std::optional<uint8_t> recorded(const BoardSample& sample, uint8_t reg);

}  // namespace demodctl::monitor
