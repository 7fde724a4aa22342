// A single-precision figure as the double its shortest decimal names (-39.4, not
// -39.400001525878906): the chip's arithmetic keeps the level and C/N in single precision, and the
// float's own digits are all it knows. Every program that shows such a figure as a double (the
// monitor's JSON, the Python binding) takes it through here.
#pragma once

#include <array>
#include <charconv>

namespace demodctl {

inline double as_decimal(float value) {
  std::array<char, 32> text{};  // the longest float is 15 characters
  const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), value);
  double decimal = value;
  if (ec == std::errc()) std::from_chars(text.data(), end, decimal);
  return decimal;
}

}  // namespace demodctl
