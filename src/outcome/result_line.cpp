#include "outcome/result_line.h"

#include <algorithm>
#include <cstdio>

namespace demodctl {
namespace {

constexpr int32_t kFailureValue = -1;

// Every refused transfer, whatever the cause, is "no connection" on the line.
const char* failure_message(FaultKind kind) {
  switch (kind) {
    case FaultKind::open_error:
      return kMsgOpenError;
    case FaultKind::timeout:
      return kMsgTimeout;
    case FaultKind::file:
      return kMsgFileError;
    case FaultKind::no_connection:
    case FaultKind::nack:
    case FaultKind::bus_failure:
    case FaultKind::refused:
    case FaultKind::read_only:
    case FaultKind::usage:
      break;
  }
  return kMsgNoConnection;
}

// printf's conversion of one value ("%d", "%f", "%s"), appended to `line`.
template <typename T>
void append(std::string& line, const char* format, T value) {
  char text[512];  // "%f" of the largest double is 316 characters
  const int n = std::snprintf(text, sizeof text, format, value);
  if (n > 0) line.append(text, std::min(static_cast<size_t>(n), sizeof text - 1));
}

struct ValueText {
  std::string& line;
  void operator()(int32_t v) const { append(line, "%d", v); }
  void operator()(double v) const { append(line, "%f", v); }
  void operator()(const std::string& text) const { line += text; }
  void operator()(const SamplePairList& pairs) const {
    for (const auto& [first, second] : pairs) {
      append(line, "{%d,", first);
      append(line, "%d}#", second);
    }
  }
};

}  // namespace

std::string result_line(const Outcome& outcome) {
  if (const auto* fault = std::get_if<Fault>(&outcome)) {
    return std::string("error=") + failure_message(fault->kind) + ",return=-1";
  }
  const auto& reply = std::get<Reply>(outcome);
  std::string line = std::string("error=") + reply.message + ",return=";
  std::visit(ValueText{line}, reply.value);
  return line;
}

int32_t exit_status(const Outcome& outcome) { return failed(outcome) ? kFailureValue : 0; }

}  // namespace demodctl
