// One run's command line as the front end parses it once, and what the run hands its command.
// Only the front end sees it: each row turns it into the command's typed request
// (cli/requests.h), so no command reads a position of the command line.
#pragma once

#include <span>

#include "bus/i2c_device.h"
#include "debug_log/debug_log.h"

namespace demodctl {

// A command's own arguments: the positions after the transport's, up to the command name and the
// flag (which follow them on the command line).
using CommandArgs = std::span<char* const>;

struct Invocation {
  Via via = Via::bridge;
  I2cDevice demod_device;   // from the transport's positions
  CommandArgs args;         // the command's own arguments given
  bool verbose = false;     // the run's setting: a step that fails says why on standard error
  DebugLog* log = nullptr;  // the run's debug log (the runner's), while the connection is up
};

}  // namespace demodctl
