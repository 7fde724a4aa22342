#include "bus/reg_rows.h"

#include "bus/delay.h"

namespace demodctl {
namespace {

std::span<const uint8_t> bytes_of(const RegRow& row) {
  return {row.bytes.begin(), row.bytes.size()};
}

template <typename Write>
Result<void> apply_rows(std::span<const RegRow> rows, Write write) {
  for (const RegRow& row : rows) {
    if (auto done = write(row.reg, bytes_of(row)); !done) return done.error();
    if (row.wait_ms > 0) delay_ms(row.wait_ms);
  }
  return {};
}

}  // namespace

Result<void> write_demod_rows(Transport& bus, std::span<const RegRow> rows) {
  return apply_rows(rows, [&](uint8_t reg, std::span<const uint8_t> bytes) {
    return bus.demod_write_regs(reg, bytes);
  });
}

Result<void> write_tuner_rows(Transport& bus, const I2cDevice& tuner, bool direct,
                              std::span<const RegRow> rows) {
  return apply_rows(rows, [&](uint8_t reg, std::span<const uint8_t> bytes) {
    return bus.tuner_write_regs(tuner, direct, reg, bytes);
  });
}

}  // namespace demodctl
