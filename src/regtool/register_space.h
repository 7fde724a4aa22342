// The registers a demodreg command works on: the demodulator's, or a tuner's behind the
// demodulator's repeater (or wired straight to the bus), as one pair of read and write.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "bus/board_bus.h"

namespace demodctl::regtool {

struct RegisterSpace {
  BoardBus& bus;
  std::optional<I2cDevice> tuner;  // set: the tuner's registers, not the demodulator's
  bool tuner_direct = false;       // the tuner hangs on the bus itself, no repeater between
};

Result<void> read_regs(const RegisterSpace& space, uint8_t reg, std::span<uint8_t> out);
Result<void> write_regs(const RegisterSpace& space, uint8_t reg, std::span<const uint8_t> data);

// The one place the tuner is reached: `open_gate` then one transfer. Kept small so a change in how
// the repeater is driven touches this file alone.
Result<void> tuner_transfer(BoardBus& bus, const I2cDevice& tuner, bool direct, uint8_t reg,
                            std::span<uint8_t> in, std::span<const uint8_t> out);

}  // namespace demodctl::regtool
