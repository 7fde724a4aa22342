// Lock-status register 0x2C: bits 0..5 are the acquisition flags.
#pragma once

#include <cstdint>

namespace demodctl {

inline constexpr uint8_t kRegLockStatus = 0x2C;

inline constexpr uint8_t kLockAgc = 0x01;   // bit 0: AGC settled
inline constexpr uint8_t kLockCbs = 0x02;   // bit 1: carrier found by the blind scan
inline constexpr uint8_t kLockTr = 0x04;    // bit 2: timing recovery locked
inline constexpr uint8_t kLockSync = 0x08;  // bit 3: frame sync; also "DVB-S2" when set
inline constexpr uint8_t kLockCr = 0x10;    // bit 4: carrier recovery locked
inline constexpr uint8_t kLockFec = 0x20;   // bit 5: FEC locked; also "standard known"

}  // namespace demodctl
