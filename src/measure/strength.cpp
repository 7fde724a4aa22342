// Signal strength from the AGC level, once the AGC reports ready.
#include <algorithm>
#include <array>

#include "bus/poll.h"
#include "measure/formulas.h"
#include "measure/measurements.h"

namespace demodctl {
namespace {

// The ready poll reads, then waits this long, then tests; it gives up at the poll's deadline
// (kPollBoundMs of wall time) with FaultKind::timeout.
constexpr int kAgcPollMs = 2;
constexpr int32_t kAgcHighBits = (1 << (reg::agc_level.width - 8)) - 1;  // 0x38 bits 3..0
constexpr int32_t kHighByteWeight = 256;

// The input level is piecewise linear in the AGC level: from `from` on, level = base - slope x
// (agc - anchor). The segments do not join: the level steps from -39.95 (1599) to -40.2 (1600)
// and back up from -79.975 (2999) to -79.05 (3000). Below 1000 the level stays at -10 dBm.
struct AgcSegment {
  int32_t from;
  double base;
  double slope;
  int32_t anchor;
};
constexpr AgcSegment kAgcCurve[] = {
    {1000, -40.0, 0.05, 1600},
    {1600, -60.0, 0.033, 2200},
    {2200, -80.0, 0.025, 3000},
    {3000, -90.0, 0.01, 4095},
};
constexpr double kStrongestDbm = -10.0;
constexpr float kWeakestDbm = -90.0f;
constexpr int32_t kStrengthOffset = 90;
constexpr int32_t kStrengthCap = 100;

}  // namespace

// Computed in double, narrowed once to single precision.
float agc_to_dbm(int32_t agc) {
  double level = kStrongestDbm;
  for (const AgcSegment& s : kAgcCurve) {
    if (agc >= s.from) level = s.base - s.slope * static_cast<double>(agc - s.anchor);
  }
  return static_cast<float>(level);
}

// The single-precision level, floored at -90 dBm (a guard: the curve never goes below), is
// truncated toward zero to whole dBm (-39.95 gives -39) and shifted by +90.
int32_t signal_strength(uint8_t agc_low, uint8_t agc_high) {
  // The 12-bit level: the low register whole, the high one's bits below the ready flag.
  const int32_t agc = (agc_high & kAgcHighBits) * kHighByteWeight + agc_low;
  const float level = std::max(agc_to_dbm(agc), kWeakestDbm);
  return std::min(static_cast<int32_t>(level) + kStrengthOffset, kStrengthCap);
}

Result<StrengthReading> read_signal_strength(Transport& bus) {
  StrengthReading r;
  const auto ready = [](std::span<const uint8_t> bytes) { return reg::agc_ready.set_in(bytes[1]); };
  const Result<void> ready_read =
      poll_register(bus, {reg::agc_level.reg, kAgcPollMs, PollOrder::read_then_wait}, r.agc, ready);
  if (!ready_read) return ready_read.error();
  r.strength = signal_strength(r.agc[0], r.agc[1]);
  return r;
}

}  // namespace demodctl
