// What a command ends with: a reply (the message and the value its result line prints) or the
// failure that ended it. Commands return it; only the front end turns it into the one result line
// and the exit status, so a monitor or a service can run the same commands without any output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace demodctl {

// Why a run ended early. After any of them nothing more is sent on the bus.
enum class Failure : uint8_t {
  no_connection,  // a transfer the register server or the bridge refused
  open_error,     // the bridge could not be opened
  timeout,        // a status flag did not come by the poll's deadline
  file,           // the sample file could not be created or written
};

// What a step of a command (a transfer, a poll, a table of writes) ends with: nothing when it went
// through, else the failure that ended it. Like std::error_code it tests true on a failure:
//   if (const Fault fault = bus.demod_write_regs(reg, data)) return *fault;
using Fault = std::optional<Failure>;

using SamplePairList = std::vector<std::pair<int, int>>;

// The value of a reply, in the type its line prints: an integer ("%d"), a real ("%f"), a text
// ("%s"), or the capture's pairs ("{%d,%d}#" each).
using ReplyValue = std::variant<int32_t, double, std::string, SamplePairList>;

struct Reply {
  const char* message;
  ReplyValue value;
};

using Outcome = std::variant<Reply, Failure>;

inline bool failed(const Outcome& outcome) { return std::holds_alternative<Failure>(outcome); }

}  // namespace demodctl
