#include "bus/board_bus.h"

#include <array>
#include <cstdio>
#include <string>

namespace demodctl {

Result<uint8_t> demod_read_reg(BoardBus& bus, uint8_t reg) {
  uint8_t value = 0;
  if (auto done = bus.demod_read_regs(reg, std::span(&value, 1)); !done) return done.error();
  return value;
}

Result<void> demod_write_reg(BoardBus& bus, uint8_t reg, uint8_t value) {
  return bus.demod_write_regs(reg, std::span(&value, 1));
}

Result<void> BoardBus::open_gate_and_write(GateOpening gate, const I2cDevice& device, uint8_t reg,
                                           std::span<const uint8_t> data) {
  if (auto opened = demod_write_reg(*this, gate.reg, gate.value); !opened) return opened;
  return device_write_regs(device, reg, data);
}

Fault refused_transfer(std::string_view what, int channel, int address, int reg) {
  std::array<char, 96> text{};
  if (channel < 0) {
    std::snprintf(text.data(), text.size(), " 0x%02X register 0x%02X", address & 0xFF, reg);
  } else {
    std::snprintf(text.data(), text.size(), " 0x%02X register 0x%02X on channel %d", address & 0xFF,
                  reg, channel);
  }
  return Fault{FaultKind::no_connection, std::string(what) + text.data()};
}

}  // namespace demodctl
