#include "adapters/board_name.h"

#include <charconv>

namespace demodctl {
namespace {

constexpr int kHexBase = 16;
constexpr int kDecimalBase = 10;
constexpr std::string_view kUsbPrefix = "usb:";
constexpr std::string_view kSimName = "sim";
constexpr std::string_view kSimPrefix = "sim:";

Fault fail(std::string message) { return Fault{FaultKind::usage, std::move(message)}; }

// usb:BUS@ADDRESS; the address is after the last '@' (a scenario path may hold one).
Result<void> parse_usb(std::string_view rest, BoardTarget& target) {
  const size_t at = rest.rfind('@');
  if (at == std::string_view::npos) return fail("usb target without @ADDRESS");
  target.usb = true;
  target.bus = std::string(rest.substr(0, at));
  return set_number(rest.substr(at + 1), "address", 0, kMaxAddress, target.device.address);
}

// HOST:PORT/CHANNEL@ADDRESS[,SPEED]
Result<void> parse_socket(std::string_view text, BoardTarget& target) {
  std::string_view host;
  std::string_view rest;
  if (text.starts_with('[')) {
    const size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      return fail("expected [IPV6]:PORT/CHANNEL@ADDRESS");
    }
    host = text.substr(1, close - 1);
    rest = text.substr(close + 2);
  } else {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) return fail("expected HOST:PORT/CHANNEL@ADDRESS");
    host = text.substr(0, colon);
    rest = text.substr(colon + 1);
  }
  const size_t slash = rest.find('/');
  const size_t at = rest.find('@');
  if (host.empty() || slash == std::string_view::npos || at == std::string_view::npos ||
      at < slash) {
    return fail("expected HOST:PORT/CHANNEL@ADDRESS[,SPEED]");
  }
  const size_t comma = rest.find(',', at);
  I2cDevice& d = target.device;
  d.host = std::string(host);
  d.speed = kDefaultSpeed;
  if (auto port = set_number(rest.substr(0, slash), "port", 1, kMaxPort, d.port); !port) {
    return port;
  }
  if (auto channel =
          set_number(rest.substr(slash + 1, at - slash - 1), "channel", 0, kMaxChannel, d.channel);
      !channel) {
    return channel;
  }
  if (auto address =
          set_number(rest.substr(at + 1, comma == std::string_view::npos ? comma : comma - at - 1),
                     "address", 0, kMaxAddress, d.address);
      !address) {
    return address;
  }
  if (comma == std::string_view::npos) return {};
  return set_number(rest.substr(comma + 1), "speed", 0, kMaxSpeed, d.speed);
}

}  // namespace

std::optional<int64_t> number_text(std::string_view text, int64_t lo, int64_t hi, Digits digits) {
  int base = kDecimalBase;
  const bool hex = digits == Digits::decimal_or_hex;
  if (hex && (text.starts_with("0x") || text.starts_with("0X"))) {
    base = kHexBase;
    text.remove_prefix(2);
  }
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || (hex && text.front() == '-') || text.front() == '+' || ec != std::errc() ||
      end != text.data() + text.size() || value < lo || value > hi) {
    return std::nullopt;
  }
  return value;
}

Result<void> set_number(std::string_view text, const char* what, int64_t lo, int64_t hi,
                        int32_t& out, Digits digits) {
  const auto value = number_text(text, lo, hi, digits);
  if (!value) {
    return fail(std::string(what) + " '" + std::string(text) + "' is not a number from " +
                std::to_string(lo) + " to " + std::to_string(hi));
  }
  out = static_cast<int32_t>(*value);
  return {};
}

Result<BoardTarget> parse_board_name(std::string_view text) {
  BoardTarget target;
  Result<void> parsed;
  if (text == kSimName || text.starts_with(kSimPrefix)) {
    target.usb = true;
    target.bus = std::string(text);
    target.device.address = kSimDemodAddress;
  } else if (text.starts_with(kUsbPrefix)) {
    parsed = parse_usb(text.substr(kUsbPrefix.size()), target);
  } else {
    parsed = parse_socket(text, target);
  }
  if (!parsed) return parsed.error();
  return target;
}

}  // namespace demodctl
