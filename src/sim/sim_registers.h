// What the simulated chip keeps: a register file per device and the default bus addresses. The
// register numbers and bits it gives behaviour to are the demodulator's own, read from the
// register map (demod/register_map.h), so the simulator and the tools cannot disagree on them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "demod/register_map.h"

namespace demodctl::sim {

// The 256 registers of one device.
inline constexpr std::size_t kRegisterCount = 256;
using RegisterFile = std::array<uint8_t, kRegisterCount>;

// Default 8-bit bus addresses.
inline constexpr uint8_t kDefaultDemodAddress = 0xD0;
inline constexpr uint8_t kDefaultTunerAddress = 0xC0;

// reg::capture_done's value once the simulated capture unit holds its samples.
inline constexpr uint8_t kCaptureComplete = 1;

}  // namespace demodctl::sim
