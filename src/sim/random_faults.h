// Faults drawn at random for a soak of the programs: one draw per operation of the board, from a
// generator seeded by the scenario, so one seed gives the same fault at the same operation number
// on every run. Rates are per million operations; their sum is at most a million.
#pragma once

#include <cstdint>
#include <random>

namespace demodctl::sim {

// A stretch of stuck flags lasts longer than the tool's longest poll (1500 reads 2 ms apart), so
// by default a flag that sticks never rises within the poll's bound.
inline constexpr uint32_t kDefaultStuckReads = 2000;

struct RandomFaultRates {
  uint64_t seed = 0;
  uint32_t fail_per_million = 0;   // the operation is not acknowledged and does nothing
  uint32_t drop_per_million = 0;   // the connection drops there, as at a drop_at_ops number
  uint32_t stall_per_million = 0;  // the board sleeps stall_ms, then performs the operation
  uint32_t stall_ms = 0;
  uint32_t stuck_per_million = 0;  // the status flags stay low for the next stuck_reads reads
  uint32_t stuck_reads = kDefaultStuckReads;
};

enum class RandomFault { none, fail, drop };

class RandomFaults {
 public:
  explicit RandomFaults(const RandomFaultRates& rates);

  // The draw for the next operation. A stall has slept before this returns (none), and a stuck
  // stretch has started.
  RandomFault next_operation();
  // The bits a read of demodulator register `number` loses to a stuck stretch: the AGC ready flag
  // (0x38 bit 7) and the capture-complete flag (0xEA bit 6). Each read of either uses up one
  // read of the stretch.
  uint8_t stuck_flags(uint8_t number);

 private:
  RandomFaultRates rates_;
  bool enabled_;
  std::mt19937_64 generator_;  // its output sequence is the same on every platform
  uint32_t stuck_reads_left_ = 0;
};

}  // namespace demodctl::sim
