// Register sequences as data: one loop applies a table of one-byte writes.
#pragma once

#include <cstdint>
#include <span>

#include "bus/i2c_device.h"

namespace demodctl {

struct RegWrite {
  uint8_t reg;
  uint8_t value;
};

// Writes each row with demod_write_reg, in order, nothing merged or skipped;
// stops at the first failure (whose line is already printed). 0 or -1.
int apply_writes(std::span<const RegWrite> table, const I2cDevice& dev = demod_device);

}  // namespace demodctl
