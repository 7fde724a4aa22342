// Register sequences as data. A row is one write of one or more bytes to consecutive registers,
// and the pause that follows it (as a regmap reg_sequence row carries its delay), so a table reads
// as the exact sequence of transfers and waits a command makes.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <stdexcept>

#include "bus/board_bus.h"
#include "bus/delay.h"

namespace demodctl {

// The most bytes a row writes in one transfer (the longest is a tuner's 16-byte block).
inline constexpr size_t kMaxRowBytes = 16;

// The bytes are held in the row itself, not pointed to: a table of rows is then plain read-only
// data that a run maps as it is, with nothing for the loader to relocate at start.
struct RegRow {
  // A row of more than kMaxRowBytes bytes does not compile in a constant table (and stops a run
  // built at run time).
  constexpr RegRow(uint8_t first, std::initializer_list<uint8_t> data, int wait = 0)
      : reg(first), count(static_cast<uint8_t>(data.size())), wait_ms(wait) {
    if (data.size() > kMaxRowBytes) throw std::length_error("a register row of too many bytes");
    std::copy(data.begin(), data.end(), bytes.begin());
  }

  // One transfer: reg <- bytes[0], reg+1 <- bytes[1], ...
  std::span<const uint8_t> data() const { return {bytes.data(), count}; }

  uint8_t reg;
  uint8_t count;
  std::array<uint8_t, kMaxRowBytes> bytes{};
  int wait_ms = 0;  // delay_ms after the row
};

// Each row in order through `write(reg, bytes)`, nothing merged or skipped (registers written
// twice are written twice); stops at the first failure and gives its fault.
template <typename Write>
Result<void> apply_rows(std::span<const RegRow> rows, Write write) {
  for (const RegRow& row : rows) {
    if (auto done = write(row.reg, row.data()); !done) return done.error();
    if (row.wait_ms > 0) delay_ms(row.wait_ms);
  }
  return {};
}

// The rows written to the demodulator.
Result<void> write_demod_rows(BoardBus& bus, std::span<const RegRow> rows);

}  // namespace demodctl
