#include "demod/field_access.h"

namespace demodctl {

Result<uint8_t> read_field(BoardBus& bus, const Field& field) {
  const Result<uint8_t> byte = demod_read_reg(bus, field.reg);
  if (!byte) return byte.error();
  return field.get(*byte);
}

Result<void> update_bits(BoardBus& bus, const Field& field, uint8_t value) {
  const Result<uint8_t> byte = demod_read_reg(bus, field.reg);
  if (!byte) return byte.error();
  return demod_write_reg(bus, field.reg, field.put(*byte, value));
}

}  // namespace demodctl
