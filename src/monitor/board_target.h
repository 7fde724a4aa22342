// Where a monitored board is and how it is reached, from the command line:
//   --board NAME=HOST:PORT/CHANNEL@ADDRESS[,SPEED]   a register server (IPv6 host in brackets)
//   --board NAME=usb:BUS@ADDRESS                     the USB bridge on BUS, named as
//                                                    DEMODCTL_I2C_BUS names it (sim, sim:FILE,
//                                                    /dev/i2c-N; empty: the first adapter found)
// or demodctl's own positional layouts for one board (named "board"):
//   HOST PORT CHANNEL SPEED ADDRESS FLAG (FLAG nonzero)   |   SPEED ADDRESS 0
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "bus/i2c_device.h"

namespace demodctl::monitor {

inline constexpr const char* kPositionalBoardName = "board";
// The channel speed a register-server target gets without ",SPEED" (kHz).
inline constexpr int32_t kDefaultSpeed = 100;

struct BoardTarget {
  std::string name;
  bool usb = false;
  I2cDevice device;  // host empty, port and channel 0 on the bridge
  std::string bus;   // the bridge's bus, as DEMODCTL_I2C_BUS would hold it
};

// NAME=TARGET; nothing and *error (one line) when it does not parse or a number is out of range.
std::optional<BoardTarget> parse_board_option(std::string_view text, std::string* error);

// The positional layouts (the words after the program name); `default_bus` is the bridge's bus
// (DEMODCTL_I2C_BUS's value, empty when unset).
std::optional<BoardTarget> parse_positional(std::span<const std::string> words,
                                            const std::string& default_bus, std::string* error);

}  // namespace demodctl::monitor
