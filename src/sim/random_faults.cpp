#include "sim/random_faults.h"

#include <chrono>
#include <thread>

#include "sim/sim_registers.h"

namespace demodctl::sim {
namespace {
constexpr uint64_t kPerMillion = 1'000'000;
}  // namespace

RandomFaults::RandomFaults(const RandomFaultRates& rates)
    : rates_(rates),
      enabled_(rates.fail_per_million + rates.drop_per_million + rates.stall_per_million +
                   rates.stuck_per_million >
               0),
      generator_(rates.seed) {}

RandomFault RandomFaults::next_operation() {
  if (!enabled_) return RandomFault::none;
  // One draw in [0, 1e6) per operation, cut into consecutive ranges, one per kind of fault.
  uint64_t draw = generator_() % kPerMillion;
  if (draw < rates_.fail_per_million) return RandomFault::fail;
  draw -= rates_.fail_per_million;
  if (draw < rates_.drop_per_million) return RandomFault::drop;
  draw -= rates_.drop_per_million;
  if (draw < rates_.stall_per_million) {
    std::this_thread::sleep_for(std::chrono::milliseconds(rates_.stall_ms));
    return RandomFault::none;
  }
  draw -= rates_.stall_per_million;
  if (draw < rates_.stuck_per_million) stuck_reads_left_ = rates_.stuck_reads;
  return RandomFault::none;
}

uint8_t RandomFaults::stuck_flags(uint8_t number) {
  if (stuck_reads_left_ == 0) return 0;
  if (number == reg::agc_ready.reg) {
    --stuck_reads_left_;
    return reg::agc_ready.mask();
  }
  if (number == reg::capture_done.reg) {
    --stuck_reads_left_;
    return reg::capture_done.put(0, kCaptureComplete);
  }
  return 0;
}

}  // namespace demodctl::sim
