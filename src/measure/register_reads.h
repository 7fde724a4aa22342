// What the measurements share: one-byte reads in order, and the lock status that four of them
// read first.
#pragma once

#include <array>
#include <cstdint>

#include "bus/transport.h"
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
Result<void> read_each(Transport& bus, const std::array<uint8_t, N>& regs,
                       std::array<uint8_t, N>& out) {
  for (std::size_t i = 0; i < N; ++i) {
    const Result<uint8_t> byte = demod_read_reg(bus, regs[i]);
    if (!byte) return byte.error();
    out[i] = *byte;
  }
  return {};
}

// Reads the lock status into the reading; true when the FEC is locked and the measurement goes
// on, false without lock (the reading has no figure).
template <typename Reading>
Result<bool> read_fec_lock(Transport& bus, Reading& reading) {
  const Result<uint8_t> status = demod_read_reg(bus, reg::lock_status.reg);
  if (!status) return status.error();
  reading.lock_status = *status;
  return fec_locked(*status);
}

}  // namespace demodctl
