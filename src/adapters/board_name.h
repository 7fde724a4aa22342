// A board as the tools name it on their command lines, and the numbers in those names:
//   HOST:PORT/CHANNEL@ADDRESS[,SPEED]   a register server (an IPv6 host in brackets)
//   usb:BUS@ADDRESS                     the USB bridge on BUS, named as DEMODCTL_I2C_BUS names it
//                                       (sim, sim:FILE, /dev/i2c-N; empty: the first adapter found)
//   sim[:SCENARIO]                      the simulated board in this process, its demodulator at
//                                       the default address
// ADDRESS is the 8-bit address byte, the 7-bit address shifted up by one (0xD0 for i2c-tools'
// 0x68), as demodctl takes it. Every number is decimal or hexadecimal with 0x, as i2c-tools
// accept them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bus/i2c_device.h"
#include "result/result.h"

namespace demodctl {

// The channel speed a register-server target gets without ",SPEED" (kHz).
inline constexpr int32_t kDefaultSpeed = 100;
// The demodulator's address byte on the simulated board.
inline constexpr int32_t kSimDemodAddress = 0xD0;

struct BoardTarget {
  std::string name;
  bool usb = false;  // the bridge (a usb: or sim target), else the register server
  I2cDevice device;  // host empty, port and channel 0 on the bridge
  std::string bus;   // the bridge's bus, as DEMODCTL_I2C_BUS would hold it
};

// Ranges the numbers of a target must lie in.
inline constexpr int64_t kMaxPort = 65535;
inline constexpr int64_t kMaxChannel = 255;
inline constexpr int64_t kMaxSpeed = 1000000;
inline constexpr int64_t kMaxAddress = 255;

// How a number may be written: decimal or 0x-hexadecimal (board names, demodreg), or decimal only
// (demodctl's positional layouts, where a minus sign is allowed too).
enum class Digits : uint8_t { decimal_or_hex, decimal };

// `text`, all of it, as a number within lo..hi.
std::optional<int64_t> number_text(std::string_view text, int64_t lo, int64_t hi,
                                   Digits digits = Digits::decimal_or_hex);
// The number into `out`; FaultKind::usage ("WHAT 'TEXT' is not a number from LO to HI") when it
// is none.
Result<void> set_number(std::string_view text, const char* what, int64_t lo, int64_t hi,
                        int32_t& out, Digits digits = Digits::decimal_or_hex);

// A target in one of the forms above; FaultKind::usage (one line) when it does not parse or a
// number is out of range ("address '0x1D0' is not a number from 0 to 255").
Result<BoardTarget> parse_board_name(std::string_view text);

}  // namespace demodctl
