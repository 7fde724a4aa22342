// Where a monitored board is and how it is reached, from the command line:
//   --board NAME=TARGET   TARGET as every tool names a board (adapters/board_name.h)
// or demodctl's own positional layouts for one board (named "board"):
//   HOST PORT CHANNEL SPEED ADDRESS FLAG (FLAG nonzero)   |   SPEED ADDRESS 0
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "adapters/board_name.h"

namespace demodctl::monitor {

inline constexpr const char* kPositionalBoardName = "board";
using demodctl::BoardTarget;
using demodctl::kDefaultSpeed;

// NAME=TARGET; FaultKind::usage (one line) when it does not parse or a number is out of range.
Result<BoardTarget> parse_board_option(std::string_view text);

// The positional layouts (the words after the program name); `default_bus` is the bridge's bus
// (DEMODCTL_I2C_BUS's value, empty when unset). FaultKind::usage (one line) when they do not make
// a target.
Result<BoardTarget> parse_positional(std::span<const std::string> words,
                                     const std::string& default_bus);

}  // namespace demodctl::monitor
