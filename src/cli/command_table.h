// The command table: names compared in table order, and their handlers.
#pragma once

#include <cstdint>
#include <span>

namespace demodctl {

// Every handler: (argument count, untouched argument vector) -> exit status.
using Handler = int32_t (*)(int argc, char** argv);

struct Command {
  const char* name;
  Handler handler;      // nullptr: not available in this build
  bool uses_transport;  // reads the transport positions (all but print_conn)
  int own_args;         // positions read after the transport positions
};

std::span<const Command> command_table();

}  // namespace demodctl
