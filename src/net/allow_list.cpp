#include "net/allow_list.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

namespace demodctl {
namespace {

constexpr size_t kV4Size = 4;
constexpr size_t kV6Size = 16;
constexpr uint8_t kV4MappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
constexpr unsigned kBitsPerByte = 8;
// An IPv4-mapped IPv6 address holds the IPv4 address in its last 4 bytes, behind these 96 bits.
constexpr unsigned kV4MappedBits = sizeof kV4MappedPrefix * kBitsPerByte;

bool is_v4_mapped(std::span<const uint8_t> address) {
  return address.size() == kV6Size &&
         std::equal(std::begin(kV4MappedPrefix), std::end(kV4MappedPrefix), address.begin());
}

bool same_prefix(const uint8_t* a, const uint8_t* b, unsigned bits) {
  const unsigned whole = bits / kBitsPerByte;
  if (!std::equal(a, a + whole, b)) return false;
  const unsigned rest = bits % kBitsPerByte;
  if (rest == 0) return true;
  const auto mask = static_cast<uint8_t>(0xFF << (kBitsPerByte - rest));
  return (a[whole] & mask) == (b[whole] & mask);
}

}  // namespace

Result<void> AllowList::add(const std::string& text, std::string_view option) {
  const std::string name(option);
  const auto slash = text.find('/');
  const std::string host = text.substr(0, slash);
  Net net;
  if (inet_pton(AF_INET, host.c_str(), net.bytes.data()) == 1) {
    net.size = kV4Size;
  } else if (inet_pton(AF_INET6, host.c_str(), net.bytes.data()) == 1) {
    net.size = kV6Size;
  } else {
    return Fault{FaultKind::usage, name + " needs a numeric address, not '" + host + "'"};
  }
  const auto max_bits = static_cast<unsigned>(net.size * kBitsPerByte);
  net.bits = max_bits;
  if (slash != std::string::npos) {
    const char* first = text.data() + slash + 1;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, net.bits);
    if (first == last || ec != std::errc() || end != last || net.bits > max_bits) {
      return Fault{FaultKind::usage, name + " '" + text + "': the prefix length must be 0.." +
                                         std::to_string(max_bits)};
    }
  }
  // ::ffff:a.b.c.d/BITS is kept as a.b.c.d/(BITS - 96), the form its peers are matched in; a
  // shorter prefix would reach past the mapped range and has no IPv4 form.
  if (is_v4_mapped({net.bytes.data(), net.size})) {
    if (net.bits < kV4MappedBits) {
      return Fault{FaultKind::usage,
                   name + " '" + text + "': the prefix length of an IPv4-mapped address must be " +
                       std::to_string(kV4MappedBits) + ".." + std::to_string(max_bits)};
    }
    std::copy_n(net.bytes.begin() + sizeof kV4MappedPrefix, kV4Size, net.bytes.begin());
    net.size = kV4Size;
    net.bits -= kV4MappedBits;
  }
  nets_.push_back(net);
  return {};
}

bool AllowList::admits(std::span<const uint8_t> address) const {
  if (nets_.empty()) return true;
  if (is_v4_mapped(address)) address = address.subspan(sizeof kV4MappedPrefix);
  return std::any_of(nets_.begin(), nets_.end(), [&](const Net& net) {
    return net.size == address.size() && same_prefix(net.bytes.data(), address.data(), net.bits);
  });
}

}  // namespace demodctl
