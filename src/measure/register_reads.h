// What the measurements share: one-byte reads in order, and the lock status that four of them
// read first when a command takes them.
#pragma once

#include <array>
#include <cstdint>

#include "bus/board_bus.h"
#include "demod/register_map.h"
#include "measure/measurements.h"

namespace demodctl {

// The registers a field spans, first to last.
template <std::size_t N>
constexpr std::array<uint8_t, N> regs_of(const Field& field) {
  std::array<uint8_t, N> regs{};
  for (std::size_t i = 0; i < N; ++i) regs[i] = static_cast<uint8_t>(field.reg + i);
  return regs;
}

// Each register by a read of its own, in order; the first refused read ends it (nothing after it
// is read; `out` keeps the bytes read before it).
template <std::size_t N>
Result<void> read_each(BoardBus& bus, const std::array<uint8_t, N>& regs,
                       std::array<uint8_t, N>& out) {
  for (std::size_t i = 0; i < N; ++i) {
    const Result<uint8_t> byte = demod_read_reg(bus, regs[i]);
    if (!byte) return byte.error();
    out[i] = *byte;
  }
  return {};
}

// A measurement as a command takes it: the lock status read first, then the form that takes it.
template <typename Reading>
Result<Reading> after_lock_read(BoardBus& bus, Result<Reading> (*measure)(BoardBus&, uint8_t)) {
  const Result<uint8_t> status = demod_read_reg(bus, reg::lock_status.reg);
  if (!status) return status.error();
  return measure(bus, *status);
}

}  // namespace demodctl
