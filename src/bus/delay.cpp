#include "bus/delay.h"

#include <chrono>
#include <utility>

namespace demodctl {
namespace {
std::function<void(int)>& hook() {
  static std::function<void(int)> h;
  return h;
}
}  // namespace

void set_delay_hook(std::function<void(int)> h) { hook() = std::move(h); }

void delay_ms(int ms) {
  if (hook()) {
    hook()(ms);
    return;
  }
  // The end is compared as a clock duration, not as whole milliseconds: a count taken just before
  // a millisecond boundary would otherwise end the wait up to 1 ms early.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
  }
}

}  // namespace demodctl
