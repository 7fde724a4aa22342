// What the measurements share: one-byte reads in order, and the lock status that four of them
// read first.
#pragma once

#include <array>
#include <cstdint>

#include "bus/transport.h"
#include "demod/register_map.h"
#include "measure/measurements.h"

namespace demodctl {

// Each register by a read of its own, in order; false at the first refused read (nothing after it
// is read; `out` keeps the bytes read before it).
// The registers a field spans, first to last.
template <std::size_t N>
constexpr std::array<uint8_t, N> regs_of(const Field& field) {
  std::array<uint8_t, N> regs{};
  for (std::size_t i = 0; i < N; ++i) regs[i] = static_cast<uint8_t>(field.reg + i);
  return regs;
}

template <std::size_t N>
bool read_each(Transport& bus, const std::array<uint8_t, N>& regs, std::array<uint8_t, N>& out) {
  for (std::size_t i = 0; i < N; ++i) {
    const auto byte = demod_read_reg(bus, regs[i]);
    if (!byte) return false;
    out[i] = *byte;
  }
  return true;
}

// Reads the lock status into the reading; true when the FEC is locked and the measurement goes
// on, false when the reading is settled (no lock, or a refused read: `no_connection`).
template <typename Reading>
bool read_fec_lock(Transport& bus, Reading& reading) {
  const auto status = demod_read_reg(bus, reg::lock_status.reg);
  if (!status) return false;
  reading.lock_status = *status;
  if (fec_locked(*status)) return true;
  reading.measured = Measured::no_lock;
  return false;
}

}  // namespace demodctl
