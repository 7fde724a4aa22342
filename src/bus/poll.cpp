#include "bus/poll.h"

#include <chrono>

#include "bus/delay.h"
#include "cli/result_line.h"

namespace demodctl {

int poll_register(Transport& bus, const PollSpec& plan, std::span<uint8_t> out,
                  const ReadyTest& ready) {
  const int max_waits = kPollBoundMs / plan.interval_ms;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kPollWallBoundMs);
  if (bus.demod_read_regs(plan.reg, out) != 0) return -1;
  for (int waits = 0; !ready(out); ++waits) {
    if (waits == max_waits || std::chrono::steady_clock::now() >= deadline) {
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
