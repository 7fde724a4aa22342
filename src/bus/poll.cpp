#include "bus/poll.h"

#include <chrono>

#include "bus/delay.h"

namespace demodctl {

Fault poll_register(Transport& bus, const PollSpec& plan, std::span<uint8_t> out,
                    const ReadyTest& ready) {
  const MonotonicTime deadline = monotonic_now() + std::chrono::milliseconds(kPollBoundMs);
  if (const Fault fault = bus.demod_read_regs(plan.reg, out)) return fault;
  while (!ready(out)) {
    if (monotonic_now() >= deadline) return Failure::timeout;
    if (plan.order == PollOrder::wait_then_read) delay_ms(plan.interval_ms);
    if (const Fault fault = bus.demod_read_regs(plan.reg, out)) return fault;
    if (plan.order == PollOrder::read_then_wait) delay_ms(plan.interval_ms);
  }
  return {};
}

}  // namespace demodctl
