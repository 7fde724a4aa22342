#include "monitor_web/host_names.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace demodctl::monitor {
namespace {

constexpr size_t kV4Size = 4;
constexpr size_t kV6Size = 16;
constexpr size_t kMaxNameBytes = 253;  // a DNS name's longest text form
constexpr std::array<uint8_t, 12> kV4MappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
constexpr std::array<uint8_t, kV6Size> kV6Loopback = {0, 0, 0, 0, 0, 0, 0, 0,
                                                      0, 0, 0, 0, 0, 0, 0, 1};
constexpr std::array<uint8_t, kV4Size> kV4Loopback = {127, 0, 0, 1};

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::vector<uint8_t> v4_only(const std::string& text) {
  std::array<uint8_t, kV4Size> bytes{};
  if (inet_pton(AF_INET, text.c_str(), bytes.data()) != 1) return {};
  return {bytes.begin(), bytes.end()};
}

std::vector<uint8_t> v6_only(const std::string& text) {
  std::array<uint8_t, kV6Size> bytes{};
  if (inet_pton(AF_INET6, text.c_str(), bytes.data()) != 1) return {};
  if (std::equal(kV4MappedPrefix.begin(), kV4MappedPrefix.end(), bytes.begin())) {
    return {bytes.begin() + kV4MappedPrefix.size(), bytes.end()};
  }
  return {bytes.begin(), bytes.end()};
}

bool same(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

bool is_name(std::string_view text) {
  return !text.empty() && text.size() <= kMaxNameBytes && text.front() != '-' &&
         text.front() != '.' && std::all_of(text.begin(), text.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.';
         });
}

}  // namespace

std::vector<uint8_t> address_bytes(const std::string& text) {
  std::vector<uint8_t> bytes = v4_only(text);
  return bytes.empty() ? v6_only(text) : bytes;
}

bool is_loopback(std::span<const uint8_t> address) {
  constexpr uint8_t kV4LoopbackNet = 127;  // 127.0.0.0/8
  if (address.size() == kV4Size) return address[0] == kV4LoopbackNet;
  return same(address, kV6Loopback);
}

Result<void> HostNames::add(const std::string& name) {
  const bool bracketed = name.size() > 2 && name.front() == '[' && name.back() == ']';
  const std::vector<uint8_t> address =
      bracketed ? v6_only(name.substr(1, name.size() - 2)) : address_bytes(name);
  if (!address.empty()) {
    addresses_.push_back(address);
  } else if (is_name(name)) {
    names_.push_back(lower(name));
  } else {
    return Fault{FaultKind::usage,
                 "--http-host needs a host name or a numeric address, not '" + name + "'"};
  }
  return {};
}

bool HostNames::names_address(const std::vector<uint8_t>& address,
                              std::span<const uint8_t> local) const {
  if (same(address, local) || same(address, listen_)) return true;
  if (std::any_of(addresses_.begin(), addresses_.end(),
                  [&](const std::vector<uint8_t>& a) { return same(a, address); })) {
    return true;
  }
  const bool on_loopback = is_loopback(listen_) || is_loopback(local);
  return on_loopback && (same(address, kV4Loopback) || same(address, kV6Loopback));
}

bool HostNames::admits(std::string_view host, uint16_t port, std::span<const uint8_t> local) const {
  std::string_view name = host;
  std::string_view port_text;
  bool bracketed = false;
  if (host.starts_with('[')) {
    const size_t close = host.find(']');
    if (close == host.npos) return false;
    name = host.substr(1, close - 1);
    const std::string_view rest = host.substr(close + 1);
    if (!rest.empty() && (rest.front() != ':' || rest.size() == 1)) return false;
    if (!rest.empty()) port_text = rest.substr(1);
    bracketed = true;
  } else if (const size_t colon = host.find(':'); colon != host.npos) {
    name = host.substr(0, colon);
    port_text = host.substr(colon + 1);
    if (port_text.empty()) return false;  // also a bare IPv6 address
  }
  if (!port_text.empty()) {
    uint16_t given = 0;
    const auto [end, ec] =
        std::from_chars(port_text.data(), port_text.data() + port_text.size(), given);
    if (ec != std::errc() || end != port_text.data() + port_text.size() || given != port) {
      return false;
    }
  }
  if (name.empty()) return false;
  const std::string text = lower(name);
  const std::vector<uint8_t> address = bracketed ? v6_only(text) : v4_only(text);
  if (!address.empty()) return names_address(address, local);
  if (bracketed) return false;
  if (text == "localhost") return is_loopback(listen_) || is_loopback(local);
  return std::find(names_.begin(), names_.end(), text) != names_.end();
}

}  // namespace demodctl::monitor
