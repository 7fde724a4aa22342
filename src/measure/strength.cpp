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

int32_t agc_level(uint8_t agc_low, uint8_t agc_high) {
  return (agc_high & kAgcHighBits) * kHighByteWeight + agc_low;
}

// The single-precision level, floored at -90 dBm (a guard: the curve never goes below), is
// truncated toward zero to whole dBm (-39.95 gives -39) and shifted by +90.
int32_t strength_of_level(float level_dbm) {
  const float level = std::max(level_dbm, kWeakestDbm);
  return std::min(static_cast<int32_t>(level) + kStrengthOffset, kStrengthCap);
}

int32_t signal_strength(uint8_t agc_low, uint8_t agc_high) {
  return strength_of_level(agc_to_dbm(agc_level(agc_low, agc_high)));
}

// The level is decoded once, here: the reading carries it beside the strength it gives.
Result<StrengthReading> read_signal_strength(BoardBus& bus) {
  StrengthReading r;
  const auto ready = [](std::span<const uint8_t> bytes) { return reg::agc_ready.set_in(bytes[1]); };
  const Result<void> ready_read =
      poll_register(bus, {reg::agc_level.reg, kAgcPollMs, PollOrder::read_then_wait}, r.agc, ready);
  if (!ready_read) return ready_read.error();
  r.level_dbm = agc_to_dbm(agc_level(r.agc[0], r.agc[1]));
  r.strength = strength_of_level(r.level_dbm);
  return r;
}

}  // namespace demodctl
