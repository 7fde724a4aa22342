// Values every register access passes to the two library call sets.
#pragma once

#include <cstdint>

namespace demodctl {

inline constexpr int kBridgeIndex = 0;  // the USB bridge is always device index 0
inline constexpr int kRegAddrLen = 1;   // register addresses are one byte wide

// Bridge transactions carry the address and register as their low 8 bits.
inline constexpr uint8_t low8(int v) { return static_cast<uint8_t>(v & 0xFF); }

}  // namespace demodctl
