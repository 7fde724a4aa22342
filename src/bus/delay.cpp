#include "bus/delay.h"

#include <sys/prctl.h>

#include <cerrno>
#include <ctime>

namespace demodctl {
namespace {

constexpr long kNsPerMs = 1'000'000;
constexpr long kNsPerSecond = 1'000'000'000;
// The sleep ends this long before the deadline and the rest is spun on the clock: even with the
// least timer slack a wake-up comes some tens of microseconds late (30..45 us at the median on a
// 2-core VM), and a tuner write through the repeater would pay that once per byte. The spin costs
// at most 5% of a 2 ms wait in processor time.
constexpr long kSpinNs = 100'000;
// PR_SET_TIMERSLACK takes nanoseconds; 1 is the least the kernel grants (0 would restore the
// default of 50 us).
constexpr unsigned long kMinTimerSlackNs = 1;

WaitClock* installed = nullptr;

timespec plus_ns(timespec t, long ns) {
  t.tv_nsec += ns;
  t.tv_sec += t.tv_nsec / kNsPerSecond;
  t.tv_nsec %= kNsPerSecond;
  if (t.tv_nsec < 0) {
    t.tv_nsec += kNsPerSecond;
    --t.tv_sec;
  }
  return t;
}

bool before(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}

timespec clock_now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t;
}

void set_timer_slack_once() {
  static const bool done = [] {
    prctl(PR_SET_TIMERSLACK, kMinTimerSlackNs, 0, 0, 0);  // a refusal only costs precision
    return true;
  }();
  (void)done;
}

}  // namespace

void set_wait_clock(WaitClock* clock) { installed = clock; }

MonotonicTime monotonic_now() {
  return installed != nullptr ? installed->now() : std::chrono::steady_clock::now();
}

void delay_ms(int ms) {
  if (installed != nullptr) {
    installed->delay_ms(ms);
    return;
  }
  if (ms <= 0) return;
  set_timer_slack_once();
  // An absolute deadline on the monotonic clock (steady_clock's, which the polls read): a sleep
  // cut short by a signal resumes towards the same end instead of starting its wait again.
  const timespec end = plus_ns(clock_now(), ms * kNsPerMs);
  const timespec wake = plus_ns(end, -kSpinNs);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
  }
  while (before(clock_now(), end)) {
  }
}

}  // namespace demodctl
