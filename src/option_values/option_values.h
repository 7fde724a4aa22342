// Option values read strictly from their text, for regserver's and demodmon's command lines: what a
// typo or a hostile harness writes (a sign, a blank, hex, an exponent, NaN, infinity) is refused
// rather than converted to something nobody asked for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace demodctl {

// A whole decimal number from min to max: digits only.
std::optional<uint64_t> whole_number(std::string_view text, uint64_t min, uint64_t max);

// A number from min to max written as digits with at most one decimal point ("3", "0.25").
std::optional<double> decimal_number(std::string_view text, double min, double max);

// `text` as one line: newlines become blanks, trailing blanks go (a parser's message may span
// lines; a usage error is printed as one).
std::string one_line(std::string text);

}  // namespace demodctl
