// The lock events of a board, derived from two successive samples: lock (reg::lock_fec) gained
// or lost, and the connection lost or back. The stages are the register map's kLockStages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/monitor_feed.h"

namespace demodctl::monitor {

// The stage that dropped first when lock was lost: the earliest stage of the chain (AGC first)
// that was up before and is down now; the stages after it cannot hold without it. Empty when
// no stage went down.
std::string first_dropped_stage(uint8_t before, uint8_t now);

// What a board's events are derived from: whether its last sample was connected, and the lock
// status of its last connected sample (lock is followed across a lost connection: what was held
// before it is what is lost or back after it).
struct LockTrack {
  bool seen = false;
  bool connected = false;
  bool has_lock_status = false;
  uint8_t lock_status = 0;
};

// The events of `current` against the track, which it then advances. A board's first sample is
// the starting point and raises none.
std::vector<BoardEvent> advance(LockTrack& track, const BoardSample& current);

}  // namespace demodctl::monitor
