// libFuzzer target: the web side's request-head parser must survive any bytes, refuse with one of
// its statuses or give a request that stays within the bounds, and tell an overflowing head as
// soon as a prefix of it overflows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "monitor_web/http_request.h"

using namespace demodctl::monitor;

namespace {

constexpr int kUriTooLong = 414;
constexpr int kFieldsTooLarge = 431;

bool known_refusal(int status) { return status >= 400 && status < 500; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const ParsedHead parsed = parse_request_head(bytes);
  if (parsed.request) {
    if (parsed.status != 0) std::abort();
    const HttpRequest& r = *parsed.request;
    if (r.fields.size() > kMaxHeaderFields || r.content_length > kMaxBodyBytes) std::abort();
    for (const auto& [name, value] : r.fields) {
      for (const char c : name) {
        if (c >= 'A' && c <= 'Z') std::abort();  // names are kept in lower case
      }
    }
    (void)r.keep_alive();
    (void)r.param("board");
    (void)r.field("host");
  } else if (!known_refusal(parsed.status)) {
    std::abort();
  }
  // Bytes still arriving: 0 while they may grow into a head, else the refusal.
  const int overflow = head_overflow(bytes);
  if (overflow != 0 && overflow != kUriTooLong && overflow != kFieldsTooLarge) std::abort();
  return 0;
}
