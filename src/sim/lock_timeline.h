// A scripted fade of the simulated demodulator's lock, counted in reads of the lock-status
// register 0x2C like the acquisition (no wall-clock time, so every run is repeatable).
//
// A timeline is a list of spans {"reads": N, "lock": MASK}: for the next N reads of 0x2C only
// the flags in MASK show (0x3F: all the target's flags, 0x07: AGC, CBS and TR, 0x00: none);
// after the last span 0x2C reads as without a timeline. Other registers keep the locked picture:
// a monitor sees the chain drop and come back stage by stage as the mask says.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <vector>

namespace demodctl::sim {

struct LockSpan {
  uint64_t reads = 0;
  uint8_t mask = 0;
};

// The scenario's "lock_timeline" array; throws ScenarioError naming the bad entry.
std::vector<LockSpan> read_lock_timeline(const nlohmann::json& value);

class LockTimeline {
 public:
  explicit LockTimeline(std::vector<LockSpan> spans) : spans_(std::move(spans)) {}
  // One read of 0x2C that would read `value` without the timeline.
  uint8_t read(uint8_t value);

 private:
  std::vector<LockSpan> spans_;
  size_t span_ = 0;
  uint64_t reads_in_span_ = 0;
};

}  // namespace demodctl::sim
