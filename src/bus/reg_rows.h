// Register sequences as data. A row is one write of one or more bytes to consecutive registers,
// and the pause that follows it (as a regmap reg_sequence row carries its delay), so a table reads
// as the exact sequence of transfers and waits a command makes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

#include "bus/board_bus.h"
#include "bus/delay.h"

namespace demodctl {

struct RegRow {
  uint8_t reg;
  std::initializer_list<uint8_t> bytes;  // one transfer: reg <- bytes[0], reg+1 <- bytes[1], ...
  int wait_ms = 0;                       // delay_ms after the row
};

// Each row in order through `write(reg, bytes)`, nothing merged or skipped (registers written
// twice are written twice); stops at the first failure and gives its fault.
template <typename Write>
Result<void> apply_rows(std::span<const RegRow> rows, Write write) {
  for (const RegRow& row : rows) {
    if (auto done = write(row.reg, std::span<const uint8_t>(row.bytes.begin(), row.bytes.size()));
        !done) {
      return done.error();
    }
    if (row.wait_ms > 0) delay_ms(row.wait_ms);
  }
  return {};
}

// The rows written to the demodulator.
Result<void> write_demod_rows(BoardBus& bus, std::span<const RegRow> rows);

}  // namespace demodctl
