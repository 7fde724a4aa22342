#include "sim/lock_timeline.h"

#include <string>

#include "demod/register_map.h"
#include "sim/scenario_values.h"

namespace demodctl::sim {
namespace {

constexpr uint64_t kMaxSpanReads = 1000000;
constexpr size_t kMaxSpans = 1000;
constexpr uint8_t kLockFlags = reg::lock_status.mask();  // bits 6, 7 of 0x2C are no lock flags

}  // namespace

std::vector<LockSpan> read_lock_timeline(const nlohmann::json& value) {
  expect_array(value, "lock_timeline");
  if (value.size() > kMaxSpans) {
    throw ScenarioError("lock_timeline: at most " + std::to_string(kMaxSpans) + " spans");
  }
  std::vector<LockSpan> spans;
  for (size_t i = 0; i < value.size(); ++i) {
    const std::string where = "lock_timeline[" + std::to_string(i) + "]";
    expect_object(value[i], where);
    check_keys(value[i], where, {"reads", "lock"});
    if (!value[i].contains("reads") || !value[i].contains("lock")) {
      throw ScenarioError(where + ": needs 'reads' and 'lock'");
    }
    spans.push_back(
        {read_number(value[i]["reads"], where + ".reads", 1, kMaxSpanReads),
         static_cast<uint8_t>(read_number(value[i]["lock"], where + ".lock", 0, kLockFlags))});
  }
  return spans;
}

uint8_t LockTimeline::read(uint8_t value) {
  if (span_ >= spans_.size()) return value;
  const LockSpan& span = spans_[span_];
  if (++reads_in_span_ == span.reads) {
    ++span_;
    reads_in_span_ = 0;
  }
  return static_cast<uint8_t>(value & (span.mask | static_cast<uint8_t>(~kLockFlags)));
}

}  // namespace demodctl::sim
