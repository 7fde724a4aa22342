// One event stream's queue: at most its capacity waits, oldest first, and the resync that stands
// for the dropped messages comes after every older one.
#include "monitor_web/event_queue.h"

#include <gtest/gtest.h>

namespace demodctl::monitor {
namespace {

using namespace std::chrono_literals;

// One more message than a batch fits, then one too many: a full batch, then the last message
// and the resync behind it.
TEST(EventQueue, HoldsItsCapacityThenTheResyncAfterTheOlderMessages) {
  constexpr size_t kCapacity = EventQueue::kMaxBatch + 1;
  EventQueue queue(kCapacity);
  std::vector<std::string> pushed;
  for (size_t i = 0; i <= kCapacity; ++i) queue.push(pushed.emplace_back(std::to_string(i)));
  EXPECT_EQ(queue.take(0ms),
            std::vector<std::string>(pushed.begin(), pushed.begin() + EventQueue::kMaxBatch));
  EXPECT_EQ(queue.take(0ms),
            (std::vector<std::string>{pushed[kCapacity - 1], EventQueue::kResync}));
  EXPECT_EQ(queue.take(0ms), std::vector<std::string>{});
}

}  // namespace
}  // namespace demodctl::monitor
