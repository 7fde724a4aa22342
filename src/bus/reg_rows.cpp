#include "bus/reg_rows.h"

namespace demodctl {

Result<void> write_demod_rows(BoardBus& bus, std::span<const RegRow> rows) {
  return apply_rows(rows, [&](uint8_t reg, std::span<const uint8_t> bytes) {
    return bus.demod_write_regs(reg, bytes);
  });
}

}  // namespace demodctl
