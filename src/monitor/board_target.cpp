#include "monitor/board_target.h"

#include <cstdint>
#include <initializer_list>

namespace demodctl::monitor {
namespace {

constexpr size_t kMaxNameLength = 64;
constexpr size_t kSocketWords = 6;  // HOST PORT CHANNEL SPEED ADDRESS FLAG
constexpr size_t kUsbWords = 3;     // SPEED ADDRESS 0

// demodctl's positional layouts are decimal.
Result<void> set_decimal(std::string_view text, const char* what, int64_t lo, int64_t hi,
                         int32_t& out) {
  return set_number(text, what, lo, hi, out, Digits::decimal);
}

Fault usage(std::string cause) { return Fault{FaultKind::usage, std::move(cause)}; }

// The first of the checks that fails, or none.
Result<void> first_failure(std::initializer_list<Result<void>> checks) {
  for (const Result<void>& check : checks) {
    if (!check) return check;
  }
  return {};
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

Result<BoardTarget> parse_board_option(std::string_view text) {
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) return usage("--board: expected NAME=TARGET");
  BoardTarget target;
  target.name = std::string(text.substr(0, equals));
  if (!valid_name(target.name)) {
    return usage("--board: a name is 1 to 64 of the characters A-Z a-z 0-9 - _ .");
  }
  Result<BoardTarget> parsed = parse_board_name(text.substr(equals + 1));
  if (!parsed) return usage("--board " + target.name + ": " + parsed.error().cause);
  parsed.value().name = target.name;
  return parsed;
}

Result<BoardTarget> parse_positional(std::span<const std::string> words,
                                     const std::string& default_bus) {
  BoardTarget target;
  target.name = kPositionalBoardName;
  I2cDevice& d = target.device;
  Result<void> ok;
  if (words.size() == kSocketWords && words.back() != "0") {
    d.host = words[0];
    if (d.host.empty()) return usage("empty host");
    ok = first_failure({set_decimal(words[1], "port", 1, kMaxPort, d.port),
                        set_decimal(words[2], "channel", 0, kMaxChannel, d.channel),
                        set_decimal(words[3], "speed", 0, kMaxSpeed, d.speed),
                        set_decimal(words[4], "address", 0, kMaxAddress, d.address)});
    if (ok && !number_text(words[5], INT32_MIN, INT32_MAX, Digits::decimal)) {
      return usage("the last word (the transport flag) is not a number");
    }
  } else if (words.size() == kUsbWords && words.back() == "0") {
    target.usb = true;
    target.bus = default_bus;
    ok = first_failure({set_decimal(words[0], "speed", 0, kMaxSpeed, d.speed),
                        set_decimal(words[1], "address", 0, kMaxAddress, d.address)});
  } else {
    return usage("expected HOST PORT CHANNEL SPEED ADDRESS 1, SPEED ADDRESS 0, or --board");
  }
  if (!ok) return ok.error();
  return target;
}

}  // namespace demodctl::monitor
