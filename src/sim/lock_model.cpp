#include "sim/lock_model.h"

#include "sim/sim_registers.h"

namespace demodctl::sim {

void LockModel::restart() {
  reads_ = 0;
  phase_ = reads_per_stage_ == 0 ? Phase::locked : Phase::acquiring;
}

uint8_t LockModel::read(uint8_t target) {
  switch (phase_) {
    case Phase::held:
      return 0;
    case Phase::locked:
      return target;
    case Phase::acquiring:
      break;
  }
  ++reads_;
  const uint64_t stage = (reads_ + reads_per_stage_ - 1) / reads_per_stage_;  // 1, 2, ...
  if (stage >= reg::lock_status.width) {
    phase_ = Phase::locked;
    return target;
  }
  const auto revealed = static_cast<uint8_t>((1U << stage) - 1U);
  return static_cast<uint8_t>((target & ~reg::lock_status.mask()) | (target & revealed));
}

}  // namespace demodctl::sim
