// One HTTP/1.1 request head (request line and header fields) as a client sent it, parsed within
// fixed bounds: a head past them is refused with its status, never buffered further.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace demodctl::monitor {

// A request line longer than this is refused with 414, a field line with 431.
inline constexpr size_t kMaxRequestLineBytes = 8 << 10;
inline constexpr size_t kMaxFieldBytes = 8 << 10;
// The request line and every field together, and the number of fields: 431 past either.
inline constexpr size_t kMaxHeadBytes = 16 << 10;
inline constexpr size_t kMaxHeaderFields = 64;
// No route takes a body: a longer one is refused with 413 before it is read.
inline constexpr size_t kMaxBodyBytes = 1024;

struct HttpRequest {
  std::string method;
  std::string path;   // the target before '?', as sent
  std::string query;  // after '?'
  bool http10 = false;
  std::map<std::string, std::string> fields;  // names in lower case
  size_t content_length = 0;

  // The field's value ("" when absent); `name` in lower case.
  std::string field(const std::string& name) const;
  // Whether the client keeps the connection for another request.
  bool keep_alive() const;
  // The query parameter's value, percent-decoded ("" when absent).
  std::string param(std::string_view name) const;
};

struct ParsedHead {
  std::optional<HttpRequest> request;
  int status = 0;  // the refusal's status when there is no request
};

// `head`: the bytes up to and including the blank line that ends the fields.
ParsedHead parse_request_head(std::string_view head);

// For bytes received without the blank line yet: 0 while they may still grow into a head within
// the bounds, else the refusal's status (414 or 431).
int head_overflow(std::string_view received);

}  // namespace demodctl::monitor
