// The bounds of demodmon's numbers, the same on the command line and in the configuration file.
#pragma once

#include <cstdint>

namespace demodctl::monitor {

// An interval below 10 ms would only measure the bus; above an hour is a typo. Counts are
// bounded where a 64-bit tick count cannot overflow.
inline constexpr uint64_t kMinIntervalMs = 10;
inline constexpr uint64_t kMaxIntervalMs = 3600 * 1000;
inline constexpr uint64_t kMaxCount = 1000000000000;
inline constexpr uint64_t kMaxPort = 65535;

}  // namespace demodctl::monitor
