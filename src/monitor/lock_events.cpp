#include "monitor/lock_events.h"

#include <array>

namespace demodctl::monitor {
namespace {

constexpr std::array<const char*, 6> kStageNames = {"AGC", "CBS", "TR", "SYNC", "CR", "FEC"};
constexpr uint8_t kFecLock = 0x20;  // 0x2C bit 5: the chain is locked end to end

BoardEvent event(const BoardSample& s, EventKind kind, std::string detail = {}) {
  return BoardEvent{s.board, s.time, kind, std::move(detail)};
}

}  // namespace

const char* stage_name(int bit) {
  return bit >= 0 && bit < static_cast<int>(kStageNames.size()) ? kStageNames[bit] : "?";
}

std::string first_dropped_stage(uint8_t before, uint8_t now) {
  const auto dropped = static_cast<uint8_t>(before & ~now);
  for (int bit = 0; bit < static_cast<int>(kStageNames.size()); ++bit) {
    if ((dropped >> bit & 1U) != 0) return kStageNames[bit];
  }
  return {};
}

std::vector<BoardEvent> advance(LockTrack& track, const BoardSample& current) {
  std::vector<BoardEvent> out;
  if (track.seen && track.connected && !current.connected) {
    out.push_back(event(current, EventKind::disconnected, current.failure));
  }
  if (track.seen && !track.connected && current.connected) {
    out.push_back(event(current, EventKind::reconnected));
  }
  track.seen = true;
  track.connected = current.connected;
  if (!current.connected) return out;
  if (track.has_lock_status) {
    const bool was_locked = (track.lock_status & kFecLock) != 0;
    const bool locked = (current.lock_status & kFecLock) != 0;
    if (was_locked && !locked) {
      out.push_back(event(current, EventKind::lock_lost,
                          first_dropped_stage(track.lock_status, current.lock_status)));
    } else if (!was_locked && locked) {
      out.push_back(event(current, EventKind::lock_gained));
    }
  }
  track.has_lock_status = true;
  track.lock_status = current.lock_status;
  return out;
}

}  // namespace demodctl::monitor
