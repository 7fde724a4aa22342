// What `--listen` names: a numeric address, or a host name resolved once at start into every
// address it has (`localhost`: 127.0.0.1 and ::1 where the host lists both).
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "result/result.h"

namespace demodctl {

// The resolver is not given longer than this: a name it cannot answer in time is an error, not
// a server that never starts.
constexpr std::chrono::milliseconds kResolveBound{5000};

// The numeric addresses `name` stands for (at least one), each once, in the resolver's order;
// FaultKind::usage (one line) when it does not resolve within `bound`.
Result<std::vector<std::string>> resolve_listen_addresses(const std::string& name,
                                                          std::chrono::milliseconds bound);

// "127.0.0.1:7468", "[::1]:7468": an IPv6 address in brackets, so the port stays after the last
// colon.
std::string address_port_text(const std::string& address, unsigned port);

}  // namespace demodctl
