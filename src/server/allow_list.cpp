#include "server/allow_list.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

namespace demodctl {
namespace {

constexpr size_t kV4Size = 4;
constexpr size_t kV6Size = 16;
constexpr uint8_t kV4MappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
constexpr unsigned kBitsPerByte = 8;

bool same_prefix(const uint8_t* a, const uint8_t* b, unsigned bits) {
  const unsigned whole = bits / kBitsPerByte;
  if (!std::equal(a, a + whole, b)) return false;
  const unsigned rest = bits % kBitsPerByte;
  if (rest == 0) return true;
  const auto mask = static_cast<uint8_t>(0xFF << (kBitsPerByte - rest));
  return (a[whole] & mask) == (b[whole] & mask);
}

}  // namespace

bool AllowList::add(const std::string& text, std::string* error) {
  const auto slash = text.find('/');
  const std::string host = text.substr(0, slash);
  Net net;
  if (inet_pton(AF_INET, host.c_str(), net.bytes.data()) == 1) {
    net.size = kV4Size;
  } else if (inet_pton(AF_INET6, host.c_str(), net.bytes.data()) == 1) {
    net.size = kV6Size;
  } else {
    *error = "--allow needs a numeric address, not '" + host + "'";
    return false;
  }
  const auto max_bits = static_cast<unsigned>(net.size * kBitsPerByte);
  net.bits = max_bits;
  if (slash != std::string::npos) {
    const char* first = text.data() + slash + 1;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, net.bits);
    if (first == last || ec != std::errc() || end != last || net.bits > max_bits) {
      *error = "--allow '" + text + "': the prefix length must be 0.." + std::to_string(max_bits);
      return false;
    }
  }
  nets_.push_back(net);
  return true;
}

bool AllowList::admits(std::span<const uint8_t> address) const {
  if (nets_.empty()) return true;
  if (address.size() == kV6Size &&
      std::equal(std::begin(kV4MappedPrefix), std::end(kV4MappedPrefix), address.begin())) {
    address = address.subspan(sizeof kV4MappedPrefix);
  }
  return std::any_of(nets_.begin(), nets_.end(), [&](const Net& net) {
    return net.size == address.size() && same_prefix(net.bytes.data(), address.data(), net.bits);
  });
}

}  // namespace demodctl
