#include "bus/reg_table.h"

#include "bus/demod_regs.h"

namespace demodctl {

int apply_writes(std::span<const RegWrite> table, const I2cDevice& dev) {
  for (const RegWrite& w : table) {
    if (demod_write_reg(w.reg, w.value, dev) != 0) return -1;
  }
  return 0;
}

}  // namespace demodctl
