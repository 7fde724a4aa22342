#include "monitor_web/http_request.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace demodctl::monitor {
namespace {

constexpr int kBadRequest = 400;
constexpr int kPayloadTooLarge = 413;
constexpr int kUriTooLong = 414;
constexpr int kHeaderFieldsTooLarge = 431;
constexpr int kNotImplemented = 501;
constexpr std::string_view kLineEnd = "\r\n";
constexpr int kHexBase = 16;

// RFC 9110's token characters: a method or a field name.
bool is_token(std::string_view text) {
  static constexpr std::string_view kMarks = "!#$%&'*+-.^_`|~";
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || kMarks.find(c) != kMarks.npos;
  });
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string percent_decoded(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned value = 0;
    if (text[i] == '%' && i + 2 < text.size() &&
        std::from_chars(text.data() + i + 1, text.data() + i + 3, value, kHexBase).ptr ==
            text.data() + i + 3) {
      out += static_cast<char>(value);
      i += 2;
    } else {
      out += text[i] == '+' ? ' ' : text[i];
    }
  }
  return out;
}

size_t count_lines(std::string_view text) {
  size_t lines = 0;
  for (size_t at = text.find(kLineEnd); at != text.npos; at = text.find(kLineEnd, at + 2)) ++lines;
  return lines;
}

// METHOD SP /TARGET SP HTTP/1.x
bool parse_request_line(std::string_view line, HttpRequest& req) {
  const size_t first = line.find(' ');
  const size_t last = line.rfind(' ');
  if (first == line.npos || first == last) return false;
  req.method = line.substr(0, first);
  const std::string_view target = line.substr(first + 1, last - first - 1);
  const std::string_view version = line.substr(last + 1);
  if (!is_token(req.method) || target.empty() || target.front() != '/') return false;
  if (version != "HTTP/1.1" && version != "HTTP/1.0") return false;
  req.http10 = version == "HTTP/1.0";
  const size_t question = target.find('?');
  req.path = target.substr(0, question);
  if (question != target.npos) req.query = target.substr(question + 1);
  return target.find(' ') == target.npos;
}

}  // namespace

std::string HttpRequest::field(const std::string& name) const {
  const auto it = fields.find(name);
  return it == fields.end() ? std::string() : it->second;
}

bool HttpRequest::keep_alive() const {
  const std::string connection = lower(field("connection"));
  return http10 ? connection == "keep-alive" : connection != "close";
}

std::string HttpRequest::param(std::string_view name) const {
  std::string_view rest = query;
  while (!rest.empty()) {
    const size_t amp = rest.find('&');
    const std::string_view pair = rest.substr(0, amp);
    const size_t eq = pair.find('=');
    if (percent_decoded(pair.substr(0, eq)) == name) {
      return eq == pair.npos ? std::string() : percent_decoded(pair.substr(eq + 1));
    }
    rest = amp == rest.npos ? std::string_view() : rest.substr(amp + 1);
  }
  return {};
}

int head_overflow(std::string_view received) {
  if (received.find(kLineEnd) == received.npos && received.size() > kMaxRequestLineBytes) {
    return kUriTooLong;
  }
  // The request line and the blank line are lines beside the fields.
  if (received.size() > kMaxHeadBytes || count_lines(received) > kMaxHeaderFields + 2) {
    return kHeaderFieldsTooLarge;
  }
  return 0;
}

ParsedHead parse_request_head(std::string_view head) {
  ParsedHead parsed;
  const size_t line_end = head.find(kLineEnd);
  if (line_end == head.npos) return {std::nullopt, kBadRequest};
  if (line_end > kMaxRequestLineBytes) return {std::nullopt, kUriTooLong};
  if (const int status = head_overflow(head)) return {std::nullopt, status};
  HttpRequest req;
  if (!parse_request_line(head.substr(0, line_end), req)) return {std::nullopt, kBadRequest};
  std::string_view rest = head.substr(line_end + kLineEnd.size());
  for (size_t end = rest.find(kLineEnd); end != 0; end = rest.find(kLineEnd)) {
    if (end == rest.npos) return {std::nullopt, kBadRequest};
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + kLineEnd.size());
    if (line.size() > kMaxFieldBytes) return {std::nullopt, kHeaderFieldsTooLarge};
    const size_t colon = line.find(':');
    // No folded lines, no space before the colon.
    if (colon == line.npos || !is_token(line.substr(0, colon))) return {std::nullopt, kBadRequest};
    const std::string name = lower(line.substr(0, colon));
    const std::string_view value = trim(line.substr(colon + 1));
    const auto [it, fresh] = req.fields.emplace(name, value);
    if (!fresh) {
      // One Host and one length only: two could be read differently by two readers.
      if (name == "host" || name == "content-length") return {std::nullopt, kBadRequest};
      it->second += ", " + std::string(value);
    }
  }
  if (req.fields.contains("transfer-encoding")) return {std::nullopt, kNotImplemented};
  const std::string length = req.field("content-length");
  if (!length.empty()) {
    const auto [end, ec] =
        std::from_chars(length.data(), length.data() + length.size(), req.content_length);
    if (ec == std::errc::result_out_of_range) return {std::nullopt, kPayloadTooLarge};
    if (ec != std::errc() || end != length.data() + length.size()) {
      return {std::nullopt, kBadRequest};
    }
    if (req.content_length > kMaxBodyBytes) return {std::nullopt, kPayloadTooLarge};
  }
  parsed.request = std::move(req);
  return parsed;
}

}  // namespace demodctl::monitor
