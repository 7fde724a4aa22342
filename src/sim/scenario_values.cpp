#include "sim/scenario_values.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <vector>

namespace demodctl::sim {
namespace {

using nlohmann::json;

constexpr uint64_t kByteMax = 0xFF;

// Significant digits of a bound in a message: those a stream shows by default.
constexpr int kRealDigits = 6;
// Room for "%.6g" of any double: sign, six digits, point, and an exponent such as "e-308".
constexpr std::size_t kRealTextBytes = 32;

std::string range_text(uint64_t lo, uint64_t hi) {
  return "expected a number from " + std::to_string(lo) + " to " + std::to_string(hi);
}

// A bound as a stream writes a double by default ("%g", six significant digits).
std::string real_text(double value) {
  char text[kRealTextBytes];
  const int length = std::snprintf(text, sizeof text, "%.*g", kRealDigits, value);
  return std::string(text, static_cast<std::size_t>(std::max(length, 0)));
}

// Whitespace as the C locale knows it, which separates the words of a byte list.
bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The whitespace-separated words of `text`, at most `max_words` of them.
std::vector<std::string> split_words(std::string_view text, std::size_t max_words) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (words.size() < max_words) {
    while (at < text.size() && is_blank(text[at])) ++at;
    if (at == text.size()) break;
    const std::size_t start = at;
    while (at < text.size() && !is_blank(text[at])) ++at;
    words.emplace_back(text.substr(start, at - start));
  }
  return words;
}

[[noreturn]] void out_of_range(const std::string& where, uint64_t lo, uint64_t hi,
                               std::string_view got) {
  throw ScenarioError(where + ": " + range_text(lo, hi) + ", got " + printable(got));
}

uint64_t checked(uint64_t value, const std::string& where, uint64_t lo, uint64_t hi) {
  if (value < lo || value > hi) out_of_range(where, lo, hi, std::to_string(value));
  return value;
}

}  // namespace

std::string printable(std::string_view text, std::size_t max_length) {
  std::string out;
  for (char c : text.substr(0, max_length)) {
    const auto u = static_cast<unsigned char>(c);
    out.push_back(u >= 0x20 && u < 0x7F ? c : '?');
  }
  if (text.size() > max_length) out += "...";
  return out;
}

uint64_t read_number_text(std::string_view text, const std::string& where, uint64_t lo,
                          uint64_t hi) {
  int base = 10;
  std::string_view digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  uint64_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value, base);
  if (!digits.empty() && ec == std::errc::result_out_of_range && ptr == end) {
    out_of_range(where, lo, hi, text);  // digits only, too many of them
  }
  if (digits.empty() || ec != std::errc() || ptr != end) {
    throw ScenarioError(where + ": '" + printable(text) + "' is not a number (" +
                        range_text(lo, hi) + ")");
  }
  return checked(value, where, lo, hi);
}

uint64_t read_number(const json& value, const std::string& where, uint64_t lo, uint64_t hi) {
  if (value.is_number_unsigned()) return checked(value.get<uint64_t>(), where, lo, hi);
  if (value.is_string())
    return read_number_text(value.get_ref<const std::string&>(), where, lo, hi);
  if (value.is_number()) out_of_range(where, lo, hi, value.dump());  // negative or fractional
  throw ScenarioError(where + ": " + range_text(lo, hi) + ", got " + value.type_name());
}

double read_real(const json& value, const std::string& where, double lo, double hi) {
  if (!value.is_number()) {
    throw ScenarioError(where + ": expected a number, got " + value.type_name());
  }
  const auto number = value.get<double>();
  if (!(number >= lo && number <= hi)) {  // also refuses what is not finite
    throw ScenarioError(where + ": expected a number from " + real_text(lo) + " to " +
                        real_text(hi));
  }
  return number;
}

uint8_t read_byte(const json& value, const std::string& where) {
  return static_cast<uint8_t>(read_number(value, where, 0, kByteMax));
}

uint8_t read_address(const json& value, const std::string& where) {
  const uint8_t address = read_byte(value, where);
  if ((address & 1U) != 0) {
    throw ScenarioError(where + ": an 8-bit address byte must be even (bit 0 is read/write)");
  }
  return address;
}

std::array<uint8_t, 4> read_identity(const json& value, const std::string& where) {
  std::array<uint8_t, 4> bytes{};
  if (value.is_array()) {
    if (value.size() != bytes.size()) throw ScenarioError(where + ": expected 4 bytes");
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = read_byte(value[i], where + "[" + std::to_string(i) + "]");
    }
    return bytes;
  }
  if (!value.is_string()) {
    throw ScenarioError(where + ": expected 4 hex bytes such as \"01 00 36 31\"");
  }
  // One word more than needed tells a list that is too long.
  const std::vector<std::string> parts =
      split_words(value.get_ref<const std::string&>(), bytes.size() + 1);
  if (parts.size() != bytes.size()) {
    throw ScenarioError(where + ": expected 4 hex bytes such as \"01 00 36 31\"");
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::string& part = parts[i];
    const bool prefixed = part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X');
    bytes[i] =
        static_cast<uint8_t>(read_number_text(prefixed ? part : "0x" + part, where, 0, kByteMax));
  }
  return bytes;
}

bool read_bool(const json& value, const std::string& where) {
  if (!value.is_boolean()) throw ScenarioError(where + ": expected true or false");
  return value.get<bool>();
}

const json& expect_object(const json& value, const std::string& where) {
  if (!value.is_object()) {
    throw ScenarioError(where + ": expected an object, got " + value.type_name());
  }
  return value;
}

const json& expect_array(const json& value, const std::string& where) {
  if (!value.is_array()) {
    throw ScenarioError(where + ": expected an array, got " + value.type_name());
  }
  if (value.size() > kMaxArrayEntries) {
    throw ScenarioError(where + ": more than " + std::to_string(kMaxArrayEntries) + " entries");
  }
  return value;
}

void check_keys(const json& object, const std::string& where,
                std::initializer_list<std::string_view> allowed) {
  for (const auto& item : object.items()) {
    const std::string& key = item.key();
    if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
      throw ScenarioError(where + ": unknown key '" + printable(key) + "'");
    }
  }
}

}  // namespace demodctl::sim
