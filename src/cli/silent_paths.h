// Why demodctl did what it did on the paths where its output says nothing of it: said on standard
// error under DEMODCTL_VERBOSE only (bus/verbose.h), the output and status unchanged.
#pragma once

#include <cstdint>

#include "cli/command_table.h"

namespace demodctl {

// No command is called `name`: the nearest name, or the transport flag missing when the last word
// is itself a command name.
void explain_unknown_command(const char* name, const char* last, bool verbose);
// Each number of the run's positions that is not all decimal: what it was read as.
void explain_numbers(const Command& c, Via via, int argc, char** argv, bool verbose);

}  // namespace demodctl
