#include "monitor/board_target.h"

#include <cstdint>

namespace demodctl::monitor {
namespace {

constexpr size_t kMaxNameLength = 64;
constexpr size_t kSocketWords = 6;  // HOST PORT CHANNEL SPEED ADDRESS FLAG
constexpr size_t kUsbWords = 3;     // SPEED ADDRESS 0

// demodctl's positional layouts are decimal.
bool set_decimal(std::string_view text, const char* what, int64_t lo, int64_t hi, int32_t& out,
                 std::string* error) {
  return set_number(text, what, lo, hi, out, error, Digits::decimal);
}

bool valid_name(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

std::optional<BoardTarget> parse_board_option(std::string_view text, std::string* error) {
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    *error = "--board: expected NAME=TARGET";
    return std::nullopt;
  }
  BoardTarget target;
  target.name = std::string(text.substr(0, equals));
  if (!valid_name(target.name)) {
    *error = "--board: a name is 1 to 64 of the characters A-Z a-z 0-9 - _ .";
    return std::nullopt;
  }
  std::string problem;
  std::optional<BoardTarget> parsed = parse_board_name(text.substr(equals + 1), &problem);
  if (!parsed) {
    *error = "--board " + target.name + ": " + problem;
    return std::nullopt;
  }
  parsed->name = target.name;
  return parsed;
}

std::optional<BoardTarget> parse_positional(std::span<const std::string> words,
                                            const std::string& default_bus, std::string* error) {
  BoardTarget target;
  target.name = kPositionalBoardName;
  I2cDevice& d = target.device;
  bool ok = false;
  if (words.size() == kSocketWords && words.back() != "0") {
    d.host = words[0];
    ok = !d.host.empty() && set_decimal(words[1], "port", 1, kMaxPort, d.port, error) &&
         set_decimal(words[2], "channel", 0, kMaxChannel, d.channel, error) &&
         set_decimal(words[3], "speed", 0, kMaxSpeed, d.speed, error) &&
         set_decimal(words[4], "address", 0, kMaxAddress, d.address, error) &&
         number_text(words[5], INT32_MIN, INT32_MAX, Digits::decimal).has_value();
    if (d.host.empty()) *error = "empty host";
  } else if (words.size() == kUsbWords && words.back() == "0") {
    target.usb = true;
    target.bus = default_bus;
    ok = set_decimal(words[0], "speed", 0, kMaxSpeed, d.speed, error) &&
         set_decimal(words[1], "address", 0, kMaxAddress, d.address, error);
  } else {
    *error = "expected HOST PORT CHANNEL SPEED ADDRESS 1, SPEED ADDRESS 0, or --board";
  }
  if (!ok) {
    if (error->empty()) *error = "the last word (the transport flag) is not a number";
    return std::nullopt;
  }
  return target;
}

}  // namespace demodctl::monitor
