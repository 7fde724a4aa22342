#include "bus/transport.h"

namespace demodctl {

std::optional<uint8_t> demod_read_reg(Transport& bus, uint8_t reg) {
  uint8_t value = 0;
  if (bus.demod_read_regs(reg, std::span(&value, 1))) return std::nullopt;
  return value;
}

Fault demod_write_reg(Transport& bus, uint8_t reg, uint8_t value) {
  return bus.demod_write_regs(reg, std::span(&value, 1));
}

}  // namespace demodctl
