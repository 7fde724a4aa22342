#include "monitor/lock_events.h"

#include "demod/register_map.h"

namespace demodctl::monitor {
namespace {

BoardEvent event(const BoardSample& s, EventKind kind, std::string detail = {}) {
  return BoardEvent{s.board, s.time, kind, std::move(detail)};
}

}  // namespace

std::string first_dropped_stage(uint8_t before, uint8_t now) {
  const auto dropped = static_cast<uint8_t>(before & ~now);
  for (const LockStage& stage : kLockStages) {
    if (stage.flag.set_in(dropped)) return std::string(stage.name);
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
    const bool was_locked = reg::lock_fec.set_in(track.lock_status);
    const bool locked = reg::lock_fec.set_in(current.lock_status);
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
