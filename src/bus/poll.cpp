#include "bus/poll.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <string>

#include "bus/delay.h"

namespace demodctl {
namespace {

std::string hex_byte(uint8_t byte) {
  std::array<char, 4> text{};
  std::snprintf(text.data(), text.size(), "%02X", byte);
  return text.data();
}

}  // namespace

Result<void> poll_register(BoardBus& bus, const PollSpec& plan, std::span<uint8_t> out,
                           const ReadyTest& ready) {
  const MonotonicTime deadline = monotonic_now() + std::chrono::milliseconds(kPollBoundMs);
  if (auto done = bus.demod_read_regs(plan.reg, out); !done) return done.error();
  while (!ready(out)) {
    if (monotonic_now() >= deadline) {
      return Fault{FaultKind::timeout, "register 0x" + hex_byte(plan.reg) + " not ready after " +
                                           std::to_string(kPollBoundMs) + " ms"};
    }
    if (plan.order == PollOrder::wait_then_read) delay_ms(plan.interval_ms);
    if (auto done = bus.demod_read_regs(plan.reg, out); !done) return done.error();
    if (plan.order == PollOrder::read_then_wait) delay_ms(plan.interval_ms);
  }
  return {};
}

}  // namespace demodctl
