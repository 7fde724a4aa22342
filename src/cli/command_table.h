// The command table: names compared in table order, and their handlers.
#pragma once

#include <cstdint>
#include <span>

#include "bus/transport.h"
#include "cli/numbers.h"

namespace demodctl {

// Every handler: the run's transport (not yet open) and the command's own arguments -> exit status.
using Handler = int32_t (*)(Transport& bus, CommandArgs args);

// The command name and the transport flag, the last two arguments of every command line.
inline constexpr int kNameAndFlag = 2;

struct Command {
  const char* name;
  Handler handler;      // nullptr: not available in this build
  bool uses_transport;  // reads the transport positions (all but print_conn)
  int own_args;         // positions read after the transport positions
  // Of those, how many at the end may be left out: their positions then hold the command name
  // (and the flag), read like any other text. At most kNameAndFlag, so every position read
  // stays on the command line.
  int optional_own = 0;
  bool names_tuner = false;  // own args 0 and 1 are the tuner's channel and address
};

std::span<const Command> command_table();

}  // namespace demodctl
