#include "demod/field_access.h"

namespace demodctl {

Fault read_field(Transport& bus, const Field& field, uint8_t& value) {
  uint8_t byte = 0;
  if (const Fault fault = bus.demod_read_regs(field.reg, std::span(&byte, 1))) return fault;
  value = field.get(byte);
  return {};
}

Fault update_bits(Transport& bus, const Field& field, uint8_t value) {
  uint8_t byte = 0;
  if (const Fault fault = bus.demod_read_regs(field.reg, std::span(&byte, 1))) return fault;
  return demod_write_reg(bus, field.reg, field.put(byte, value));
}

}  // namespace demodctl
