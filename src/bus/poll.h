// The one way to wait for a status flag: read, test, wait, read again, with a bound.
//
// The chip's flags normally come within milliseconds. A flag that never comes (a chip held in
// reset, a capture that never starts) must not keep the tool waiting for ever, so every poll gives
// up at a deadline kPollBoundMs of wall time after the moment before its first read, however long
// the reads take (on a quiet bus that is 1500 waits of 2 ms, 600 of 5 ms), and the command ends
// with FaultKind::timeout. A failed read ends the poll at once with its own fault: it is never
// taken for a value.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "bus/board_bus.h"

namespace demodctl {

inline constexpr int kPollBoundMs = 3000;

enum class PollOrder {
  read_then_wait,  // while not ready: read again, then wait
  wait_then_read,  // while not ready: wait, then read again
};

struct PollSpec {
  uint8_t reg;      // out.size() bytes from here, one transfer per read
  int interval_ms;  // the wait between reads (> 0)
  PollOrder order;
};

using ReadyTest = std::function<bool(std::span<const uint8_t>)>;

// The first read comes at once; no fault once `ready` holds for the bytes in `out` (which keep
// them), the read's fault after a failed read, FaultKind::timeout at the deadline. The deadline is
// tested before each read after the first, so a poll that ends there has made no read past it.
Result<void> poll_register(BoardBus& bus, const PollSpec& plan, std::span<uint8_t> out,
                           const ReadyTest& ready);

}  // namespace demodctl
