// Acquisition of the simulated demodulator, counted in reads of the lock-status
// register (no wall-clock time, so every run is repeatable).
//
// Locked: 0x2C reads its target value. Held (hot reset held, or init reset
// pulse): 0x2C reads 0x00. Acquiring: each read of 0x2C is the next stage; stage
// s shows the target's flags among bits 0..s-1, bits 6,7 as in the target; after
// the sixth stage the chip is locked. With reads_per_stage = 0 lock is immediate.
#pragma once

#include <cstdint>

namespace demodctl::sim {

class LockModel {
 public:
  enum class Phase { locked, held, acquiring };

  explicit LockModel(uint32_t reads_per_stage) : reads_per_stage_(reads_per_stage) {}

  void hold() { phase_ = Phase::held; }
  void restart();
  // One read of the lock-status register whose stored (target) value is `target`.
  uint8_t read(uint8_t target);
  Phase phase() const { return phase_; }

 private:
  uint32_t reads_per_stage_;
  Phase phase_ = Phase::locked;
  uint64_t reads_ = 0;  // reads of 0x2C since the last restart
};

}  // namespace demodctl::sim
