#include "bus/delay.h"

#include <chrono>
#include <cstdint>
#include <utility>

namespace demodctl {
namespace {
std::function<void(int)>& hook() {
  static std::function<void(int)> h;
  return h;
}

int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

void set_delay_hook(std::function<void(int)> h) { hook() = std::move(h); }

void delay_ms(int ms) {
  if (hook()) {
    hook()(ms);
    return;
  }
  // Ticks of a 1000-per-second clock: the wait is ms * 1000 / 1000 ticks.
  const int64_t start = now_ms();
  while (now_ms() - start < static_cast<int64_t>(ms)) {
  }
}

}  // namespace demodctl
