// The runner: the one frame around every command. In this order: open the connection, open the
// run's debug log (where the row keeps one), check the chip's identity (where the row asks for
// it), run the handler, close the debug log, print the one result line, close the connection.
//
// After a failure nothing more is sent and the connection is not closed (the debug log keeps the
// lines written before it); an absent chip gives the row's reply and is closed like any reply.
#pragma once

#include <cstdint>
#include <functional>

#include "cli/command_table.h"

namespace demodctl {

// Where the one line goes: standard output (print_result_line), or a test's record.
using Printer = std::function<void(const Outcome&)>;

// Prints the outcome's result line to standard output, once, and flushes it.
void print_result_line(const Outcome& outcome);

// Runs the row's frame and handler on `bus`; `print` is called once, before the close.
Outcome run_command(const Command& c, BoardBus& bus, const Invocation& command,
                    const Printer& print);

}  // namespace demodctl
