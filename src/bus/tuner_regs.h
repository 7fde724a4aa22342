// Tuner register access through the demodulator's I2C repeater (or directly).
//
// The tuner sits behind the demodulator's repeater, which a write of 1 to
// demodulator register 0x2D opens for one transfer. With `direct` set the
// tuner is reached on its own channel and address and 0x2D is never touched.
// Both operations always return 0; failures inside do not stop the caller.
#pragma once

#include <cstdint>

#include "bus/i2c_device.h"

namespace demodctl {

inline constexpr int kRegRepeater = 0x2D;  // write 1: open the repeater
inline constexpr uint8_t kRepeaterOpen = 0x01;
inline constexpr int kRepeaterPauseMs = 2;  // socket path: pause after each byte

int tuner_read_regs(int reg, uint8_t* buf, int count, const I2cDevice& tuner,
                    const I2cDevice& demod, uint8_t direct);
int tuner_write_regs(int reg, const uint8_t* data, int count, const I2cDevice& tuner,
                     const I2cDevice& demod, uint8_t direct);

}  // namespace demodctl
