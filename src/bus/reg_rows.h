// Register sequences as data. A row is one write of one or more bytes to consecutive registers,
// and the pause that follows it (as a regmap reg_sequence row carries its delay), so a table reads
// as the exact sequence of transfers and waits a command makes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

#include "bus/transport.h"

namespace demodctl {

struct RegRow {
  uint8_t reg;
  std::initializer_list<uint8_t> bytes;  // one transfer: reg <- bytes[0], reg+1 <- bytes[1], ...
  int wait_ms = 0;                       // delay_ms after the row
};

// Each row in order, nothing merged or skipped (registers written twice are written twice);
// stops at the first failure and gives its fault.
Result<void> write_demod_rows(Transport& bus, std::span<const RegRow> rows);
Result<void> write_tuner_rows(Transport& bus, const I2cDevice& tuner, bool direct,
                              std::span<const RegRow> rows);

}  // namespace demodctl
