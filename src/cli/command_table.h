// The command table: names compared in table order, and their handlers.
#pragma once

#include <cstdint>
#include <span>

#include "bus/transport.h"
#include "cli/numbers.h"

namespace demodctl {

// Every handler: the run's transport (not yet open) and the command's own arguments -> exit status.
using Handler = int32_t (*)(Transport& bus, CommandArgs args);

struct Command {
  const char* name;
  Handler handler;           // nullptr: not available in this build
  bool uses_transport;       // reads the transport positions (all but print_conn)
  int own_args;              // positions read after the transport positions
  bool names_tuner = false;  // own args 0 and 1 are the tuner's channel and address
};

std::span<const Command> command_table();

}  // namespace demodctl
