// Which peers may connect to a listener (regserver's port, demodmon's page): networks given as
// ADDR or ADDR/BITS, IPv4 or IPv6.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "result/result.h"

namespace demodctl {

class AllowList {
 public:
  // Adds "ADDR" (one host) or "ADDR/BITS" (0..32 for IPv4, 0..128 for IPv6; host bits past the
  // prefix are ignored). An IPv4-mapped IPv6 network (::ffff:a.b.c.d, BITS 96..128) is kept as
  // the IPv4 network a.b.c.d/(BITS - 96). FaultKind::usage (one line) when the text is not such
  // a network. `option` names the list in that line ("--allow", "--http-allow").
  Result<void> add(const std::string& text, std::string_view option = "--allow");
  bool empty() const { return nets_.empty(); }
  // True when the list is empty or one of its networks holds the address (4 bytes IPv4, 16 bytes
  // IPv6, network order). An IPv4-mapped IPv6 address (::ffff:a.b.c.d, a peer of a dual-stack
  // listener) is matched as its IPv4 address.
  bool admits(std::span<const uint8_t> address) const;

 private:
  struct Net {
    std::array<uint8_t, 16> bytes{};
    size_t size = 4;  // 4 or 16
    unsigned bits = 32;
  };
  std::vector<Net> nets_;
};

}  // namespace demodctl
