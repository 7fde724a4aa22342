#include "bus/poll.h"

#include <chrono>

#include "bus/delay.h"
#include "cli/result_line.h"

namespace demodctl {

int poll_register(Transport& bus, const PollSpec& plan, std::span<uint8_t> out,
                  const ReadyTest& ready) {
  const MonotonicTime deadline = monotonic_now() + std::chrono::milliseconds(kPollBoundMs);
  if (bus.demod_read_regs(plan.reg, out) != 0) return -1;
  while (!ready(out)) {
    if (monotonic_now() >= deadline) {
      print_result(kMsgTimeout, -1);
      return -1;
    }
    if (plan.order == PollOrder::wait_then_read) delay_ms(plan.interval_ms);
    if (bus.demod_read_regs(plan.reg, out) != 0) return -1;
    if (plan.order == PollOrder::read_then_wait) delay_ms(plan.interval_ms);
  }
  return 0;
}

}  // namespace demodctl
