// How the binding turns a board name into a connection: the one place it parses a name and builds
// the link, so a change in how boards are named and opened is made here alone.
#pragma once

#include <memory>
#include <string>

#include "monitor/board_link.h"
#include "result/result.h"

namespace demodctl::python {

// "HOST:PORT/CH@ADDR[,SPEED]" or "usb:BUS@ADDR" (BUS: sim, sim:SCENARIO.json, /dev/i2c-N, ...):
// the link, not yet opened; FaultKind::usage (one line) when the name does not parse.
Result<std::unique_ptr<monitor::BoardLink>> make_board_link(const std::string& uri);

}  // namespace demodctl::python
