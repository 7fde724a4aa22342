#include "option_values/option_values.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace demodctl {
namespace {

bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

std::optional<uint64_t> whole_number(std::string_view text, uint64_t min, uint64_t max) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), is_digit)) return std::nullopt;
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max) {
    return std::nullopt;
  }
  return value;
}

std::optional<double> decimal_number(std::string_view text, double min, double max) {
  const auto digits = std::count_if(text.begin(), text.end(), is_digit);
  const auto points = std::count(text.begin(), text.end(), '.');
  if (digits == 0 || points > 1 || static_cast<size_t>(digits + points) != text.size()) {
    return std::nullopt;
  }
  double value = 0;
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
      value < min || value > max) {
    return std::nullopt;
  }
  return value;
}

std::string one_line(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace demodctl
