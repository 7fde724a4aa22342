// Lock time: how long the demodulator took to acquire lock.
#include <array>

#include "measure/formulas.h"
#include "measure/measurements.h"
#include "measure/register_reads.h"

namespace demodctl {
namespace {

constexpr auto kRegLockTimes = regs_of<reg::lock_times.bytes()>(reg::lock_times);
constexpr uint32_t kMsPerUnit = 10;  // the chip counts acquisition time in 10 ms units

}  // namespace

// 0x29..0x2B as one 24-bit word, 0x29 the low byte, holds five time fields from bit 0 up, of
// 4, 4, 4, 6 and 6 bits (the fourth straddles 0x2A and 0x2B); their sum counts 10 ms units.
int32_t lock_time_ms(uint8_t b0, uint8_t b1, uint8_t b2) {
  const uint32_t word = uint32_t{b0} | (uint32_t{b1} << 8U) | (uint32_t{b2} << 16U);
  constexpr struct {
    uint32_t shift, mask;
  } kFields[] = {{0, 0x0F}, {4, 0x0F}, {8, 0x0F}, {12, 0x3F}, {18, 0x3F}};
  uint32_t units = 0;
  for (const auto& f : kFields) units += (word >> f.shift) & f.mask;
  return static_cast<int32_t>(units * kMsPerUnit);
}

Result<LockTimeReading> read_lock_time(BoardBus& bus, uint8_t lock_status) {
  LockTimeReading r;
  r.lock_status = lock_status;
  if (!fec_locked(lock_status)) return r;
  if (auto done = read_each(bus, kRegLockTimes, r.times); !done) return done.error();
  r.lock_time_ms = lock_time_ms(r.times[0], r.times[1], r.times[2]);
  r.figure = true;
  return r;
}

Result<LockTimeReading> read_lock_time(BoardBus& bus) {
  return after_lock_read<LockTimeReading>(bus, read_lock_time);
}

}  // namespace demodctl
