#include "bus/transport.h"

#include "cli/result_line.h"

namespace demodctl {

int report_bus_failure() {
  print_result(kMsgNoConnection, -1);
  return -1;
}

std::optional<uint8_t> demod_read_reg(Transport& bus, uint8_t reg) {
  uint8_t value = 0;
  if (bus.demod_read_regs(reg, std::span(&value, 1)) != 0) return std::nullopt;
  return value;
}

int demod_write_reg(Transport& bus, uint8_t reg, uint8_t value) {
  return bus.demod_write_regs(reg, std::span(&value, 1));
}

ChipId check_chip_id(Transport& bus, Identity& id) {
  if (bus.read_identity(id) != 0) return ChipId::failed;
  return id[2] == 0x36 && id[3] == 0x31 ? ChipId::present : ChipId::absent;
}

}  // namespace demodctl
