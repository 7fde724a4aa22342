#include "cli/numbers.h"

#include <limits>

namespace demodctl {

int32_t to_int(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  // Leading white space is skipped, as the C library conversion does.
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > kMax + 1) value = kMax + 1;  // saturated; further digits change nothing
  }
  if (negative) value = -value;
  if (value > kMax) return static_cast<int32_t>(kMax);
  if (value < kMin) return static_cast<int32_t>(kMin);
  return static_cast<int32_t>(value);
}

}  // namespace demodctl
