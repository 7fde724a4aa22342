// The command table: names compared in table order, their handlers, and the frame the runner
// puts around each (cli/runner.h).
#pragma once

#include <cstdint>
#include <span>
#include <variant>

#include "bus/board_bus.h"
#include "cli/invocation.h"
#include "outcome/outcome.h"

namespace demodctl {

// Every row's handler: the run's transport (open, unless the frame is none) and the command line,
// which the row turns into its command's request.
using Handler = Outcome (*)(BoardBus& bus, const Invocation& command);

// The command name and the transport flag, the last two arguments of every command line.
inline constexpr int kNameAndFlag = 2;

enum class Frame : uint8_t {
  none,        // reads no transport position and opens nothing (print_conn)
  connection,  // open; handler; the line; close after a reply
  identity,    // open; the chip's identity; handler (a present chip only); the line; close
};

// The reply of a command whose identity check finds no chip: nothing more is sent.
struct AbsentReply {
  const char* message = nullptr;
  std::variant<int32_t, double> value;
};

struct Command {
  const char* name;
  Handler handler;  // nullptr: not available in this build
  Frame frame = Frame::connection;
  AbsentReply absent{};  // Frame::identity
  int own_args = 0;      // positions its request reads after the transport positions
  // Of those, how many at the end may be left out: the request then has their defaults.
  int optional_own = 0;
  bool keeps_debug_log = false;  // the runner opens the debug log once the connection is up
};

std::span<const Command> command_table();

}  // namespace demodctl
