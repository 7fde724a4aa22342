// The names a request's Host field may give for this server. A page of another site whose name
// was pointed at this address (DNS rebinding) sends its own name as Host and is refused, so its
// script can neither read the monitor nor ask for captures.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "result/result.h"

namespace demodctl::monitor {

// The address's bytes in network order (4 or 16; an IPv4-mapped IPv6 address as its 4), empty
// when the text is no numeric address.
std::vector<uint8_t> address_bytes(const std::string& text);
bool is_loopback(std::span<const uint8_t> address);

class HostNames {
 public:
  // `listen`: the bytes of the address listened on (any, for a wildcard).
  explicit HostNames(std::vector<uint8_t> listen) : listen_(std::move(listen)) {}

  // A name given with --http-host: a host name, or a numeric address (IPv6 with or without
  // brackets). FaultKind::usage (one line) for anything else.
  Result<void> add(const std::string& name);

  // Whether `host` (a Host field: NAME, NAME:PORT, [IPV6] or [IPV6]:PORT; a port must be
  // `port`) names this server for a connection that reached its address `local`: that address,
  // the listen address, a name added, or (on loopback) localhost, 127.0.0.1 and [::1].
  bool admits(std::string_view host, uint16_t port, std::span<const uint8_t> local) const;

 private:
  bool names_address(const std::vector<uint8_t>& address, std::span<const uint8_t> local) const;

  std::vector<uint8_t> listen_;
  std::vector<std::string> names_;               // lower case
  std::vector<std::vector<uint8_t>> addresses_;  // numeric ones added
};

}  // namespace demodctl::monitor
