// Waits on the monotonic clock: delay_ms sleeps to a deadline, and the bounded polls take their
// deadlines from the same clock.
#pragma once

#include <chrono>

namespace demodctl {

using MonotonicTime = std::chrono::steady_clock::time_point;

// Now, on the clock that delay_ms sleeps on (or on the stand-in a test installed).
MonotonicTime monotonic_now();

// Returns after at least `ms` milliseconds. It sleeps to the deadline (the process's timer slack
// is brought to its minimum on the first call, so the kernel wakes it on time) and spins only for
// the last fraction of a millisecond. delay_ms(0) and negative values return at once.
void delay_ms(int ms);

// A stand-in for the clock and the wait, for tests: a fake clock advanced by the waits (and by
// whatever else the test makes cost time) lets a deadline be tested without timing anything.
class WaitClock {
 public:
  virtual ~WaitClock() = default;
  virtual MonotonicTime now() = 0;
  virtual void delay_ms(int ms) = 0;
};

// Installs `clock` for monotonic_now and delay_ms; nullptr restores the real clock.
void set_wait_clock(WaitClock* clock);

}  // namespace demodctl
