// What a command ends with: a reply (the message and the value its result line prints) or the
// failure that ended it. Commands return it; only the front end turns it into the one result line
// and the exit status, so a monitor or a service can run the same commands without any output.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "result/result.h"

namespace demodctl {

using SamplePairList = std::vector<std::pair<int, int>>;

// The value of a reply, in the type its line prints: an integer ("%d"), a real ("%f"), a text
// ("%s"), or the capture's pairs ("{%d,%d}#" each).
using ReplyValue = std::variant<int32_t, double, std::string, SamplePairList>;

struct Reply {
  const char* message;
  ReplyValue value;
};

// A reply, or the fault that ended the command early (after it nothing more is sent on the bus):
//   if (auto done = bus.demod_write_regs(reg, data); !done) return done.error();
using Outcome = std::variant<Reply, Fault>;

inline bool failed(const Outcome& outcome) { return std::holds_alternative<Fault>(outcome); }

}  // namespace demodctl
