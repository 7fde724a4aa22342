#include "server/listen_addresses.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <memory>

namespace demodctl {
namespace {

using Clock = std::chrono::steady_clock;

constexpr long kNanosPerMilli = 1000000;
constexpr long kMillisPerSecond = 1000;

// The numeric form of every address of `list`, each once.
std::vector<std::string> numeric_addresses(const addrinfo* list) {
  std::vector<std::string> out;
  for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
    char host[NI_MAXHOST];
    if (getnameinfo(a->ai_addr, a->ai_addrlen, host, sizeof host, nullptr, 0, NI_NUMERICHOST) !=
        0) {
      continue;
    }
    if (std::find(out.begin(), out.end(), host) == out.end()) out.emplace_back(host);
  }
  return out;
}

addrinfo hints_for(int extra_flags) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | extra_flags;
  return hints;
}

// One asynchronous look-up. It stays allocated while the resolver's thread may still write into
// it: a look-up that cannot be cancelled after the bound is left to finish on its own.
struct Lookup {
  std::string name;
  addrinfo hints = hints_for(0);
  gaicb request{};
};

timespec as_timespec(Clock::duration left) {
  const auto ms = std::max<long>(
      0, static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()));
  return timespec{ms / kMillisPerSecond, (ms % kMillisPerSecond) * kNanosPerMilli};
}

// getaddrinfo has no timeout; getaddrinfo_a runs it on a thread of the C library and gai_suspend
// waits for it with one. *timed_out when the bound passed first.
int resolve_bounded(const std::string& name, std::chrono::milliseconds bound, addrinfo** result,
                    bool* timed_out) {
  auto lookup = std::make_unique<Lookup>();
  lookup->name = name;
  lookup->request.ar_name = lookup->name.c_str();
  lookup->request.ar_request = &lookup->hints;
  gaicb* list[] = {&lookup->request};
  if (const int rc = getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr); rc != 0) return rc;
  const auto deadline = Clock::now() + bound;
  int rc = gai_error(&lookup->request);
  while (rc == EAI_INPROGRESS && Clock::now() < deadline) {
    const timespec left = as_timespec(deadline - Clock::now());
    gai_suspend(list, 1, &left);  // returns early on completion or a signal
    rc = gai_error(&lookup->request);
  }
  if (rc == EAI_INPROGRESS) {
    if (gai_cancel(&lookup->request) != EAI_CANCELED) {
      static_cast<void>(lookup.release());  // still being written; the process is about to exit
    }
    *timed_out = true;
    return EAI_AGAIN;
  }
  *result = lookup->request.ar_result;
  return rc;
}

}  // namespace

Result<std::vector<std::string>> resolve_listen_addresses(const std::string& name,
                                                          std::chrono::milliseconds bound) {
  addrinfo* result = nullptr;
  // A numeric address is taken as it is, without the resolver.
  const addrinfo numeric = hints_for(AI_NUMERICHOST);
  bool timed_out = false;
  int rc = getaddrinfo(name.c_str(), nullptr, &numeric, &result);
  if (rc == EAI_NONAME) rc = resolve_bounded(name, bound, &result, &timed_out);
  if (rc != 0) {
    return Fault{FaultKind::usage,
                 "--listen '" + name + "': " +
                     (timed_out ? "no answer from the resolver within " +
                                      std::to_string(bound.count() / kMillisPerSecond) + " s"
                                : std::string(gai_strerror(rc)))};
  }
  std::vector<std::string> out = numeric_addresses(result);
  freeaddrinfo(result);
  if (out.empty()) return Fault{FaultKind::usage, "--listen '" + name + "': no address"};
  return out;
}

std::string address_port_text(const std::string& address, unsigned port) {
  const bool v6 = address.find(':') != std::string::npos;
  return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

}  // namespace demodctl
