// What the measurement commands share: one-byte reads in order, and the frame of the four
// measurements that only mean something once the FEC has locked (lock status 0x2C bit 5).
#pragma once

#include <array>
#include <cstdint>

#include "bus/transport.h"
#include "demod/lock_status.h"

namespace demodctl {

// Each register by a read of its own, in order; false at the first refused read (its line is
// printed and nothing after it is read).
template <std::size_t N>
bool read_each(Transport& bus, const std::array<uint8_t, N>& regs, std::array<uint8_t, N>& out) {
  for (std::size_t i = 0; i < N; ++i) {
    const auto byte = demod_read_reg(bus, regs[i]);
    if (!byte) return false;
    out[i] = *byte;
  }
  return true;
}

// Open, read the lock status; without FEC lock print the fixed no-lock line, with it let
// `measure(status)` read its registers and print its line (false after a refused read: the
// command then ends with -1, the connection left open). 0 after a line, -1 after a failure.
template <typename NoLock, typename Measure>
int32_t locked_measurement(Transport& bus, NoLock no_lock, Measure measure) {
  if (bus.open_connection() != 0) return -1;
  const auto status = demod_read_reg(bus, kRegLockStatus);
  if (!status) return -1;
  if ((*status & kLockFec) == 0) {
    no_lock();
  } else if (!measure(*status)) {
    return -1;
  }
  bus.close_connection();
  return 0;
}

}  // namespace demodctl
